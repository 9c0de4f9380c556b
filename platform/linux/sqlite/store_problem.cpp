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
// The first column of the first row of `sql`, or -1 when there is no row or it fails.
long long firstNumber(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  long long value = -1;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) == SQLITE_OK &&
      sqlite3_step(raw) == SQLITE_ROW)
    value = sqlite3_column_int64(raw, 0);
  sqlite3_finalize(raw);
  return value;
}

// What a readable database lacks to be the store of that name: another program's file, or a
// registry whose root key has a parent, which would make its key tree a cycle. "" when it
// looks like ours (or is empty, and becomes ours when first opened).
std::string contentProblem(sqlite3* db, const std::string& name) {
  struct Kind {
    const char* store;
    const char* table;
    const char* what;
  };
  const Kind kinds[] = {{registryStoreName, "keys", "registry"},
                        {notifyStoreName, "requests", "run-at-time"}};
  for (const Kind& kind : kinds) {
    if (name != kind.store) continue;
    if (firstNumber(db, "SELECT count(*) FROM sqlite_master") <= 0) return "";
    std::string table = std::string("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                    "AND name = '") + kind.table + "'";
    // A query that fails (a writer holds the store) says nothing: only answers count.
    if (firstNumber(db, table.c_str()) == 0)
      return std::string("not a ") + kind.what + " store of this device";
    if (name == registryStoreName &&
        firstNumber(db, "SELECT count(*) FROM keys WHERE id = 1 AND parent IS NULL") == 0)
      return "its key tree is a cycle: the root key has a parent key";
  }
  return "";
}

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
  if (code == SQLITE_OK) return contentProblem(raw, name);
  // A store another process holds locked is in use, not broken.
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) return "";
  return raw ? sqlite3_errmsg(raw) : sqlite3_errstr(code);
}

}  // namespace ce
