#include "platform/linux/sqlite/open_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>


namespace ce::sqlite {

namespace {

// SQLite gives every connection's page cache room for 20 pages as it first reads, about 80 KiB
// of written heap each, where the device's stores are a few pages: most of an idle listener's
// private memory, which holds three connections. Without it pages are taken one at a time as
// they are read. Only possible before SQLite's first use in the process; a process that used
// it already (a test, a benchmark) keeps the default.
void letPageCacheGrowAsRead() {
  static const int once = sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
  (void)once;
}

}  // namespace

int openStore(const std::string& path, sqlite3** db) {
  *db = nullptr;
  letPageCacheGrowAsRead();
  // SQLite would create the file with its own default mode less the umask; made here first,
  // it is private from the start. A file that exists is never opened here: closing any
  // descriptor of a file drops every POSIX lock this process holds on it, SQLite's included,
  // and another connection of this process may have it open. Without its shared lock, another
  // process that closes its last connection takes the file for unused, checkpoints and removes
  // the log under that connection, which then reads a malformed store. Links and files that are
  // not regular (a FIFO would block SQLite's open) are refused by a look that opens nothing.
  int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::fchmod(fd, 0600);  // whatever the umask
    ::close(fd);
  } else if (errno == EEXIST) {
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return SQLITE_CANTOPEN;
  } else if (errno == ELOOP || errno == EINVAL) {
    return SQLITE_CANTOPEN;
  }
  return sqlite3_open_v2(path.c_str(), db,
                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                         nullptr);
}

}  // namespace ce::sqlite
