// What the device's SQLite stores (registry, run-at-time requests, PIM items) share about
// their write-ahead log. Platform-internal.
#pragma once

#include <sqlite3.h>

#include <string>

namespace ce::sqlite {

// Puts the file in WAL mode (a property of the file, so a no-op once done). Returns SQLite's
// result code; SQLITE_BUSY only when another process kept switching it for `timeoutMs`.
int switchToWal(sqlite3* db, int timeoutMs);

// Removes the log and index that a store's file replaced under its name (`path`) left there,
// unless some process still holds them: false then. A connection opened on the new file would
// otherwise read the old file's pages from them.
bool removeLeftLog(const std::string& path);

}  // namespace ce::sqlite
