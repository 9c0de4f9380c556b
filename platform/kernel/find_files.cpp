// Folder listings on device paths, over opendir/readdir and fstatat.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "platform/device.h"
#include "platform/kernel/host_files.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/platform_state.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// What a find handle points to; owned by the caller between FindFirstFileW and FindClose.
struct FindState {
  std::unique_ptr<DIR, DirCloser> dir;
};

// Seconds between 1601 and 1970.
constexpr long long epochDifference = 11644473600LL;

FILETIME fileTimeOf(const timespec& time) {
  unsigned long long ticks =
      static_cast<unsigned long long>(time.tv_sec + epochDifference) * 10000000ULL +
      static_cast<unsigned long long>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// The folder part of a "folder\*" pattern; false for any other pattern.
bool folderOfPattern(const wchar_t* pattern, std::wstring& folder) {
  if (!pattern) return false;
  std::wstring text = pattern;
  for (const wchar_t* suffix : {L"\\*.*", L"/*.*", L"\\*", L"/*"}) {
    size_t length = std::wcslen(suffix);
    if (text.size() >= length && text.compare(text.size() - length, length, suffix) == 0) {
      folder = text.substr(0, text.size() - length);
      if (folder.empty()) folder = L"\\";
      return folder.find_first_of(L"*?") == std::wstring::npos;
    }
  }
  return false;
}

// Fills `data` with the next entry that can still be described; false at the end.
bool nextEntry(FindState& state, WIN32_FIND_DATAW& data) {
  int folder = dirfd(state.dir.get());
  while (dirent* entry = readdir(state.dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat info;
    // An entry removed since it was read is simply no longer there.
    if (fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::wstring name = ce::widenFileName(entry->d_name);
    if (name.size() >= MAX_PATH) continue;
    data = WIN32_FIND_DATAW{};
    data.dwFileAttributes = ce::kernel::attributesOf(info);
    data.ftCreationTime = fileTimeOf(info.st_ctim);
    data.ftLastAccessTime = fileTimeOf(info.st_atim);
    data.ftLastWriteTime = fileTimeOf(info.st_mtim);
    auto size = static_cast<unsigned long long>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    data.dwOID = static_cast<DWORD>(info.st_ino & 0xFFFFFFFFu);
    name.copy(data.cFileName, name.size());
    return true;
  }
  return false;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  long long forced;
  if (ce::failPointHit("FindFirstFileW", forced)) return reinterpret_cast<HANDLE>(forced);
  std::wstring folder;
  if (!data || !folderOfPattern(pattern, folder)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string host;
  if (!ce::kernel::hostPathForCall(folder.c_str(), host)) return INVALID_HANDLE_VALUE;
  auto state = std::make_unique<FindState>();
  state->dir.reset(opendir(host.c_str()));
  if (!state->dir) {
    SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!nextEntry(*state, *data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return state.release();
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  if (!find || find == INVALID_HANDLE_VALUE || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (nextEntry(*static_cast<FindState*>(find), *data)) return TRUE;
  SetLastError(ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL FindClose(HANDLE find) {
  if (!find || find == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete static_cast<FindState*>(find);
  return TRUE;
}
