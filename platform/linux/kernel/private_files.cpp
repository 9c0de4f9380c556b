// Files and folders of the device home: private to the owner, written only inside the home.
//
// Why modes are set explicitly rather than through the umask. The umask belongs to whoever
// started the process (a shell with 022, a service manager with anything), and a file that
// another local user can read once created stays readable to a descriptor opened then. So
// every file the device creates is 0600 and every folder 0700 from the moment it exists:
// created with that mode, then corrected with fchmod/chmod when the umask took bits away
// the owner needs (0277 would leave a folder without write permission). SQLite gives its
// -wal, -shm and -journal files the mode of the database, so a store created 0600 keeps its
// companions private too.
//
// Why a symbolic link is refused. The home is the owner's, but a link planted in it (by a
// program of the owner's that was fooled, or before the home was made private) would turn
// every append of the log into a write to any file the owner may write. O_NOFOLLOW refuses
// the last component; a folder of the home that is a link is refused where the home is made.
#include "platform/linux/kernel/private_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/unique_fd.h"

namespace ce::kernel {

namespace {

constexpr mode_t fileMode = 0600;
constexpr mode_t folderMode = 0700;

// Opens an existing file without creating it; O_NONBLOCK keeps a FIFO from blocking the open.
int openExisting(const std::string& path, int flags) {
  return ::open(path.c_str(), (flags & ~(O_CREAT | O_EXCL)) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

int createNew(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                  fileMode);
  struct stat info;
  if (fd >= 0 && fstat(fd, &info) == 0 && (info.st_mode & 07777) != fileMode)
    fchmod(fd, fileMode);
  return fd;
}

}  // namespace

int openPrivate(const std::string& path, int flags) {
  int fd = -1;
  bool created = false;
  // Create-or-open in two steps so that only a file made here gets its mode set; a loop,
  // because the file may vanish or appear between the two.
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    if (flags & O_CREAT) {
      fd = createNew(path, flags & ~(O_CREAT | O_TRUNC));
      created = fd >= 0;
      if (fd >= 0 || errno != EEXIST) break;
    }
    fd = openExisting(path, flags);
    if (fd >= 0 || errno != ENOENT || !(flags & O_CREAT)) break;
  }
  if (fd < 0) {
    // A FIFO that nobody reads refuses a non-blocking open for writing: not a regular file.
    if (errno == ENXIO) errno = EINVAL;
    return -1;
  }
  // Opened for writing alone, the open itself has refused all that is no regular file and could
  // do harm: a folder (EISDIR), a link (ELOOP), a socket or a FIFO nobody reads (ENXIO). What
  // remains, a FIFO its owner is reading, takes the lines without ever blocking the writer. So
  // the log, which opens its file for every line, pays no fstat for it.
  if (!created && (flags & O_ACCMODE) == O_WRONLY) return fd;
  struct stat info;
  int error = fstat(fd, &info) != 0  ? errno
              : S_ISREG(info.st_mode) ? 0
              : S_ISDIR(info.st_mode) ? EISDIR
                                      : EINVAL;
  // The O_NONBLOCK that kept a FIFO from blocking the open stays: it has no effect on a
  // regular file's reads and writes (open(2)), and the log opens its file for every line.
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

FILE* openPrivateStream(const std::string& path, const char* mode) {
  int flags = 0;
  bool plus = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r': flags = plus ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  int fd = openPrivate(path, flags);
  if (fd < 0) return nullptr;
  char streamMode[3] = {mode[0], plus ? '+' : '\0', '\0'};
  FILE* stream = fdopen(fd, streamMode);
  if (!stream) {
    int error = errno;
    ::close(fd);
    errno = error;
  }
  return stream;
}

bool makePrivateFolder(const std::string& path, bool linkAllowed) {
  if (mkdir(path.c_str(), folderMode) == 0) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && (info.st_mode & 07777) != folderMode)
      chmod(path.c_str(), folderMode);
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat info;
  if ((linkAllowed ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0) return false;
  if (S_ISLNK(info.st_mode)) {
    errno = ELOOP;
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

std::string privateOpenError(int error) {
  if (error == ELOOP) return "is a symbolic link";
  if (error == EINVAL) return "not a regular file";
  return std::strerror(error);
}

}  // namespace ce::kernel

namespace ce {

namespace {

void tightenOne(const std::string& path, mode_t wanted, std::vector<std::string>& tightened) {
  struct stat info;
  // Links are never followed, and what belongs to someone else is not ours to change.
  if (lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode) || info.st_uid != geteuid())
    return;
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode) && !S_ISSOCK(info.st_mode)) return;
  mode_t mode = info.st_mode & 07777;
  // Only bits for others go; an owner's own choice (a read-only file) stays.
  mode_t kept = mode & wanted;
  if (S_ISDIR(info.st_mode)) kept |= S_IRWXU;
  if (kept != mode && chmod(path.c_str(), kept) == 0) tightened.push_back(path);
}

void tightenFolderEntries(const std::string& folder, std::vector<std::string>& tightened) {
  DIR* stream = opendir(folder.c_str());
  if (!stream) return;
  while (dirent* entry = readdir(stream)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    tightenOne(folder + "/" + name, 0600, tightened);
  }
  closedir(stream);
}

}  // namespace

std::vector<std::string> tightenDeviceHome(const std::vector<std::string>& fsFolders,
                                           const std::vector<std::string>& fsFiles) {
  std::vector<std::string> tightened;
  std::string home = deviceHome();
  for (const char* folder : {"", "/fs", "/system", "/run"})
    tightenOne(home + folder, 0700, tightened);
  for (const std::string& folder : fsFolders) tightenOne(fsRoot() + "/" + folder, 0700, tightened);
  for (const std::string& file : fsFiles) tightenOne(fsRoot() + "/" + file, 0700, tightened);
  tightenFolderEntries(systemDir(), tightened);
  tightenFolderEntries(runDir(), tightened);
  return tightened;
}

bool writePrivateFile(const std::string& path, const std::string& content, std::string& error) {
  std::string temporary = path + ".new";
  unlink(temporary.c_str());
  kernel::UniqueFd fd(kernel::openPrivate(temporary, O_WRONLY | O_CREAT | O_TRUNC));
  size_t done = 0;
  while (fd.valid() && done < content.size()) {
    ssize_t n = write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (!fd.valid() || done < content.size() || rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": " + kernel::privateOpenError(errno);
    if (fd.valid()) unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool makePrivateFolders(const std::string& path, std::string& error) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (!kernel::makePrivateFolder(part, true)) {
      error = part + ": " + kernel::privateOpenError(errno);
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

}  // namespace ce
