// What the device's SQLite stores (registry, run-at-time requests, PIM items) share about
// their write-ahead log. Platform-internal.
#pragma once

#include <sqlite3.h>

namespace ce::sqlite {

// Puts the file in WAL mode (a property of the file, so a no-op once done). Returns SQLite's
// result code; SQLITE_BUSY only when another process kept switching it for `timeoutMs`.
int switchToWal(sqlite3* db, int timeoutMs);

}  // namespace ce::sqlite
