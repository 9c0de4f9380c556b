// File streams and attributes on device paths.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/device.h"
#include "platform/kernel/host_files.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/platform_state.h"
#include "platform/kernel/private_files.h"

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
  DWORD attributes = 0;
  if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace ce::kernel

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
  long long forced;
  if (ce::failPointHit("_wfopen", forced)) return reinterpret_cast<FILE*>(forced);
  if (!path || !mode || !*mode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The device's modes are "r", "w", "a" with "+", "b", "t"; text and binary are one here.
  std::string hostMode;
  for (const wchar_t* m = mode; *m; ++m) {
    if (*m == L'r' || *m == L'w' || *m == L'a' || *m == L'+') hostMode += static_cast<char>(*m);
    else if (*m != L'b' && *m != L't') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  hostMode += 'e';  // close-on-exec: programs the scheduler starts inherit no log file
  std::string host;
  if (!ce::kernel::hostPathForCall(path, host)) return nullptr;
  // Refuses a link planted in place of the file, and creates what it creates for the owner only.
  FILE* file = ce::kernel::openPrivateStream(host, hostMode.c_str());
  if (!file) SetLastError(errorFromErrno(errno));
  return file;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  long long forced;
  if (ce::failPointHit("GetFileAttributesW", forced)) return static_cast<DWORD>(forced);
  std::string host;
  if (!ce::kernel::hostPathForCall(path, host)) return INVALID_FILE_ATTRIBUTES;
  struct stat info;
  if (stat(host.c_str(), &info) != 0) {
    SetLastError(errorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return ce::kernel::attributesOf(info);
}
