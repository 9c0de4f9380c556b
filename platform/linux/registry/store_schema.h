// The registry file: its schema, and SQLite's results as registry error codes.
// Platform-internal.
#pragma once

#include <sqlite3.h>

#include "platform/linux/kernel/wintypes.h"

namespace ce::registry {

// The version in PRAGMA user_version.
inline constexpr int schemaVersion = 3;
// The two tables, and the indexes that close a new or upgraded schema (setting its version).
extern const char* const keysTable;
extern const char* const valuesTable;
extern const char* const schemaIndexes;

// Long enough to outlast any other process's single write, short enough to give up cleanly.
inline constexpr int busyTimeoutMilliseconds = 5000;

// SQLite result -> the registry's error code.
LONG errorOf(int rc, bool writing);
LONG execute(sqlite3* db, const char* sql, bool writing);

// Creates the schema in a file that has none (switching it to WAL first); ERROR_BADDB for a
// file that is not a database or a database that is not a registry, which stay untouched.
LONG prepareSchema(sqlite3* db);

// Rebuilds a version 1 or 2 store at version 3, in place, keeping every id and all data.
LONG upgradeToVersion3(sqlite3* db);

}  // namespace ce::registry
