#include "platform/linux/sqlite/open_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/kernel/private_files.h"

namespace ce::sqlite {

int openStore(const std::string& path, sqlite3** db) {
  *db = nullptr;
  // SQLite would create the file with its own default mode less the umask; made here first,
  // it is private from the start. Nothing is written: an existing file, damaged or not, is
  // only opened, and one this process may only read is left to SQLite, which opens it so.
  int fd = ce::kernel::openPrivate(path, O_RDONLY | O_CREAT);
  if (fd >= 0) ::close(fd);
  else if (errno == ELOOP || errno == EINVAL) return SQLITE_CANTOPEN;
  return sqlite3_open_v2(path.c_str(), db,
                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                         nullptr);
}

}  // namespace ce::sqlite
