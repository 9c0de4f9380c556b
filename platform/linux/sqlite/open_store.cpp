#include "platform/linux/sqlite/open_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>


namespace ce::sqlite {

int openStore(const std::string& path, sqlite3** db) {
  *db = nullptr;
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
