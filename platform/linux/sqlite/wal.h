// What the device's SQLite stores (registry, run-at-time requests, PIM items) share about
// their write-ahead log. Platform-internal.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>

#include "platform/linux/file_identity.h"

namespace ce::sqlite {

// Puts the file in WAL mode (a property of the file, so a no-op once done). Returns SQLite's
// result code; SQLITE_BUSY only when another process kept switching it for `timeoutMs`.
int switchToWal(sqlite3* db, int timeoutMs);

// Removes the log and index that a store's file replaced under its name (`path`) left there,
// unless some process still holds them: false then. A connection opened on the new file would
// otherwise read the old file's pages from them.
bool removeLeftLog(const std::string& path);

// Takes the old file's log and index (`log`, `index`: their identities while it was open) off
// the names beside `path`, whoever still holds them; files there that are not those (the new
// file's own, made by another process) stay. False, with errno, when one could not be removed.
bool dropReplacedLog(const std::string& path, const std::optional<FileIdentity>& log,
                     const std::optional<FileIdentity>& index);

// Held by a process that follows a replaced store, from its look at the names beside the store
// until the new file's log exists: two processes following the same replacement then never
// take one's new log for the old one. An flock on the store's folder, which nothing else locks.
class ReplacementLock {
 public:
  explicit ReplacementLock(const std::string& folder);
  ~ReplacementLock();
  ReplacementLock(const ReplacementLock&) = delete;
  ReplacementLock& operator=(const ReplacementLock&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace ce::sqlite
