#include "platform/linux/sqlite/wal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace ce::sqlite {

// Switching a new file to WAL answers SQLITE_BUSY at once, without the busy handler, while
// another process is switching it too. That race only happens while a device is new, so
// retrying within the caller's usual bound is enough.
int switchToWal(sqlite3* db, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int code = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if ((code & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) return code;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

namespace {

// The byte of the index that every connection holds a shared lock on while it is open: the
// unix VFS's "dead man switch" (UNIX_SHM_DMS), after the eight WAL locks from byte 120.
constexpr off_t shmDmsByte = 128;

}  // namespace

// Removes the log and index that a replaced file left under the store's name, unless some
// process still holds them; false then.
bool removeLeftLog(const std::string& path) {
  const std::string log = path + "-wal", index = path + "-shm";
  int fd = ::open(index.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    // No connection works without the index: a log without one is nobody's.
    if (errno != ENOENT) return false;
    ::unlink(log.c_str());
    return true;
  }
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = shmDmsByte;
  lock.l_len = 1;
  bool unused = ::fcntl(fd, F_SETLK, &lock) == 0;
  if (unused) {
    ::unlink(log.c_str());
    ::unlink(index.c_str());
  }
  ::close(fd);  // and the lock with it
  return unused;
}

// Why the old names may simply go, whoever holds them: a process keeps using a log and index
// through the descriptors it opened, and SQLite never goes back to them by name for a file
// that has been moved or replaced (it asks the file system whether the name still leads to the
// file it holds, and if not, neither checkpoints nor removes them when it closes). Left there,
// they would be opened with the new file by every process that opens it next, and their pages
// read as the new file's.
bool dropReplacedLog(const std::string& path, const std::optional<FileIdentity>& log,
                     const std::optional<FileIdentity>& index) {
  for (const auto& [suffix, old] : {std::pair{"-wal", &log}, std::pair{"-shm", &index}}) {
    const std::string name = path + suffix;
    if (!*old || fileIdentity(name) != **old) continue;
    if (::unlink(name.c_str()) != 0 && errno != ENOENT) return false;
  }
  return true;
}

ReplacementLock::ReplacementLock(const std::string& folder)
    : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  // A folder that cannot be opened leaves the followers unordered: each still removes only
  // the old identities, so all it could take is a log made between its look and its removal.
  if (fd_ >= 0)
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

ReplacementLock::~ReplacementLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace ce::sqlite
