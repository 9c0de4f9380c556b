// Why two ways of opening: a store with no log beside it is complete in its own file, and is
// read as immutable, which takes no lock and makes no file (a plain read-only open would take
// a shared lock on the file, which holds off a writer, and could leave an index file behind).
// A store with a log may hold commits that only the log has, so it is read through the log
// as any reader does; in WAL mode a reader holds off no writer. A checkpoint that rewrites the
// file while it is read as immutable can show a torn page: the look then fails or misses an
// entry, which is all a look may cost. A log without its index (the index removed by hand or
// by a cleaner) is read past, as if there were no log: reading it would make the index, and a
// look makes nothing; the commits only that log holds are missed.
#include "platform/linux/sqlite/glance.h"

#include <sys/stat.h>
#include <unistd.h>

namespace ce::sqlite {

namespace {

// A look never waits long for a writer: a person is waiting at the keyboard.
constexpr int busyTimeoutMs = 50;

bool exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

// SQLite's URI form of a path: '?' and '#' would end the name, '%' starts an escape.
std::string uriOf(const std::string& path) {
  std::string uri = "file:";
  for (char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      static const char digits[] = "0123456789ABCDEF";
      auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += digits[byte >> 4];
      uri += digits[byte & 0xF];
    } else {
      uri += c;
    }
  }
  return uri;
}

}  // namespace

GlanceConnection openToGlance(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
    return nullptr;
  std::string uri = uriOf(path);
  if (!exists(path + "-wal") || !exists(path + "-shm")) uri += "?immutable=1";
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(uri.c_str(), &raw,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX |
                               SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  GlanceConnection db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(raw, busyTimeoutMs);
  return db;
}

}  // namespace ce::sqlite
