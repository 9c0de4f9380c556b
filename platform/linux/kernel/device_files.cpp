// File streams and attributes on device paths.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/descriptor_stream.h"
#include "platform/linux/kernel/host_files.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/kernel/private_files.h"

namespace {

DWORD errorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case ELOOP:  // a link where the device keeps a file of its own
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

// A stream's mode: open(2) flags and the matching fdopen mode.
struct StreamMode {
  int flags = 0;
  const char* fdopenMode = nullptr;
};

// The device's modes are "r", "w", "a" with "+", "b", "t"; text and binary are one here.
bool streamModeOf(const wchar_t* mode, StreamMode& out) {
  wchar_t kind = 0;
  bool update = false;
  for (const wchar_t* m = mode; *m; ++m) {
    if ((*m == L'r' || *m == L'w' || *m == L'a') && !kind) kind = *m;
    else if (*m == L'+') update = true;
    else if (*m != L'b' && *m != L't') return false;
  }
  // Close-on-exec: programs the scheduler starts inherit no log file.
  const int common = O_CLOEXEC;
  switch (kind) {
    case L'r': out = {common | (update ? O_RDWR : O_RDONLY), update ? "r+" : "r"}; return true;
    case L'w':
      out = {common | O_CREAT | O_TRUNC | (update ? O_RDWR : O_WRONLY), update ? "w+" : "w"};
      return true;
    case L'a':
      out = {common | O_CREAT | O_APPEND | (update ? O_RDWR : O_WRONLY), update ? "a+" : "a"};
      return true;
    default: return false;
  }
}

// Opens an existing file as spelled, or else as the device finds it (another case), or else
// makes it when the mode does. -1 with errno set.
int openDeviceFile(std::string& host, int flags) {
  int fd = ce::kernel::openPrivate(host, flags & ~O_CREAT);
  if (fd >= 0 || errno != ENOENT) return fd;
  ce::matchCase(host);
  return ce::kernel::openPrivate(host, flags);
}

// A missing name in a folder that exists, or a folder that does not.
DWORD missingFileError(const std::string& hostPath) {
  std::string folder = hostPath;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  size_t slash = folder.rfind('/');
  if (slash != std::string::npos) folder.resize(slash);
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                    : ERROR_PATH_NOT_FOUND;
}

}  // namespace

namespace ce::kernel {

bool hostPathForCall(const wchar_t* devicePath, std::string& out) {
  try {
    return ce::hostPathOf(devicePath, out);
  } catch (...) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
}

DWORD attributesOf(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  // A file the device made or changed is marked for backup, as on every Windows.
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

DWORD errorOfMissOrFailure(const std::string& hostPath, int error) {
  return error == ENOENT ? missingFileError(hostPath) : errorFromErrno(error);
}

}  // namespace ce::kernel

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
  long long forced;
  if (ce::failPointHit("_wfopen", forced)) return reinterpret_cast<FILE*>(forced);
  StreamMode stream;
  if (!path || !mode || !streamModeOf(mode, stream)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string host;
  if (!ce::kernel::hostPathForCall(path, host)) return nullptr;
  // Refuses a link planted in place of the file, creates what it creates for the owner only,
  // and refuses what is no regular file: a folder is no file to read on the device.
  int fd = openDeviceFile(host, stream.flags);
  if (fd < 0) {
    SetLastError(ce::kernel::errorOfMissOrFailure(host, errno));
    return nullptr;
  }
  FILE* file = ce::kernel::streamOverDescriptor(fd, stream.fdopenMode);
  if (!file) SetLastError(errorFromErrno(errno));
  return file;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  long long forced;
  if (ce::failPointHit("GetFileAttributesW", forced)) return static_cast<DWORD>(forced);
  std::string host;
  if (!ce::kernel::hostPathForCall(path, host)) return INVALID_FILE_ATTRIBUTES;
  struct stat info;
  if (stat(host.c_str(), &info) != 0 && (errno != ENOENT || !ce::matchCase(host) ||
                                         stat(host.c_str(), &info) != 0)) {
    SetLastError(ce::kernel::errorOfMissOrFailure(host, errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return ce::kernel::attributesOf(info);
}
