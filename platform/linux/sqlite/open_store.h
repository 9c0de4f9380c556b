// Opening the device's SQLite stores (registry, run-at-time requests, PIM items) the one way
// they are all opened. Platform-internal.
#pragma once

#include <sqlite3.h>

#include <string>

namespace ce::sqlite {

// sqlite3_open_v2 for reading and writing (reading only when the file may only be read),
// creating the file when missing: a file made here is 0600 whatever the umask (SQLite gives
// its -wal, -shm and -journal the same mode), and a symbolic link or anything but a regular
// file is refused (SQLITE_CANTOPEN, *db left null). Otherwise *db is set as sqlite3_open_v2
// sets it, and the caller closes it.
int openStore(const std::string& path, sqlite3** db);

}  // namespace ce::sqlite
