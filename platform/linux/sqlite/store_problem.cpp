// A read-only look at a store that a call found unusable, to say why in words.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/linux/device.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/stores.h"

namespace ce {

namespace {
// A look waits this long for a writer that holds the store, as the stores' own readers do.
constexpr int busyTimeoutMs = 1000;
}  // namespace

std::string storeProblem(const std::string& name) {
  std::string path;
  try {
    path = ce::systemDir() + "/" + name;
  } catch (const std::exception& e) {
    return e.what();
  }
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? "" : std::strerror(errno);
  if (S_ISLNK(info.st_mode)) return "is a symbolic link";
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (access(path.c_str(), R_OK | W_OK) != 0) return std::strerror(errno);
  sqlite3* raw = nullptr;
  int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, &sqlite3_close_v2);
  if (code == SQLITE_OK) {
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    code = sqlite3_exec(raw, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  }
  // A store another process holds locked is in use, not broken.
  if (code == SQLITE_OK || code == SQLITE_BUSY || code == SQLITE_LOCKED) return "";
  return raw ? sqlite3_errmsg(raw) : sqlite3_errstr(code);
}

}  // namespace ce
