// The registry file: its schema, and SQLite's results as registry error codes.
// Platform-internal.
#pragma once

#include <sqlite3.h>

#include "platform/kernel/wintypes.h"

namespace ce::registry {

// Long enough to outlast any other process's single write, short enough to give up cleanly.
inline constexpr int busyTimeoutMilliseconds = 5000;

// SQLite result -> the registry's error code.
LONG errorOf(int rc, bool writing);
LONG execute(sqlite3* db, const char* sql, bool writing);

// Creates the schema in a file that has none (switching it to WAL first); ERROR_BADDB for a
// file that is not a database or a database that is not a registry, which stay untouched.
LONG prepareSchema(sqlite3* db);

// Rebuilds a version 1 store with the Unicode collation. A store that holds two names equal
// only under it (possible before) is left at version 1, where it works as it always did.
LONG migrateFromVersion1(sqlite3* db);

}  // namespace ce::registry
