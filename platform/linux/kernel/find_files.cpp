// Folder listings on device paths, over opendir/readdir and fstatat.
//
// A pattern is a folder's device path and a last name that may hold wildcards, matched as
// Windows matches them: without regard to case, '*' for any run of characters, '?' for one,
// a trailing ".*" or "." also matching a name without an extension ("readme.*" lists
// "readme"). The device keeps no 8.3 short names, so only the real name is matched, and it
// lists no "." and ".." entries: an empty folder matches nothing, ERROR_FILE_NOT_FOUND as
// for any pattern that matches nothing.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>

#include "platform/linux/device.h"
#include "platform/linux/kernel/handle_table.h"
#include "platform/linux/kernel/host_files.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// What a find handle stands for, between FindFirstFileW and FindClose.
struct FindState {
  std::unique_ptr<DIR, DirCloser> dir;
  std::wstring maskKey;  // the last name of the pattern, upper-cased; "*" lists everything
};

ce::kernel::HandleTable<FindState>& searches() {
  static ce::kernel::HandleTable<FindState> open;
  return open;
}

void resetSearches() { searches().clear(); }
[[maybe_unused]] const bool resetSearchesHooked = (ce::addResetHook(&resetSearches), true);

// Seconds between 1601 and 1970.
constexpr long long epochDifference = 11644473600LL;

FILETIME fileTimeOf(const timespec& time) {
  unsigned long long ticks =
      static_cast<unsigned long long>(time.tv_sec + epochDifference) * 10000000ULL +
      static_cast<unsigned long long>(time.tv_nsec) / 100;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool hasWildcard(std::wstring_view text) { return text.find_first_of(L"*?") != text.npos; }

// Whether `name` matches `mask`, both upper-cased.
bool matches(std::wstring_view name, std::wstring_view mask) {
  size_t n = 0, m = 0;
  size_t starMask = std::wstring_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == L'?' || mask[m] == name[n])) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == L'*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::wstring_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  // The name is used up: what is left of the mask may only be '*' and '.'.
  while (m < mask.size() && (mask[m] == L'*' || mask[m] == L'.')) ++m;
  return m == mask.size();
}

// Fills `data` with the next entry that matches and can still be described; false at the end.
bool nextEntry(FindState& state, WIN32_FIND_DATAW& data) {
  int folder = dirfd(state.dir.get());
  const bool everything = state.maskKey == L"*";
  while (dirent* entry = readdir(state.dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    std::wstring name = ce::widenFileName(entry->d_name);
    if (name.size() >= MAX_PATH) continue;
    if (!everything && !matches(ce::nameCaseKey(name), state.maskKey)) continue;
    struct stat info;
    // An entry removed since it was read is simply no longer there.
    if (fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    data = WIN32_FIND_DATAW{};
    data.dwFileAttributes = ce::kernel::attributesOf(info);
    data.ftCreationTime = fileTimeOf(info.st_ctim);
    data.ftLastAccessTime = fileTimeOf(info.st_atim);
    data.ftLastWriteTime = fileTimeOf(info.st_mtim);
    // A folder has no size of its own on the device.
    auto size = S_ISDIR(info.st_mode) ? 0ULL : static_cast<unsigned long long>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    data.dwOID = static_cast<DWORD>(info.st_ino & 0xFFFFFFFFu);
    name.copy(data.cFileName, name.size());
    return true;
  }
  return false;
}

// Opens the folder of a pattern, as spelled or else as the device finds it.
DIR* openFolder(const std::wstring& folder, DWORD& error) {
  std::string host;
  if (!ce::kernel::hostPathForCall(folder.c_str(), host)) {
    error = GetLastError();
    return nullptr;
  }
  DIR* dir = opendir(host.c_str());
  if (!dir && errno == ENOENT && ce::matchCase(host)) dir = opendir(host.c_str());
  if (dir) return dir;
  // Windows reads the name of a file before a separator as an invalid name.
  error = errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED
          : errno == ENOTDIR                ? ERROR_INVALID_NAME
                                            : ERROR_PATH_NOT_FOUND;
  return nullptr;
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  long long forced;
  if (ce::failPointHit("FindFirstFileW", forced)) return reinterpret_cast<HANDLE>(forced);
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::wstring_view text(pattern);
  if (text.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (text.size() >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  size_t cut = text.size();
  while (cut > 0 && !isSeparator(text[cut - 1])) --cut;
  std::wstring folder(text.substr(0, cut));
  std::wstring_view mask = text.substr(cut);
  if (folder.empty()) folder = L"\\";
  if (hasWildcard(folder)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  // A last name without wildcards is read as any last name is (trailing dots and spaces go).
  if (!hasWildcard(mask))
    while (!mask.empty() && (mask.back() == L'.' || mask.back() == L' ')) mask.remove_suffix(1);
  if (mask.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto state = std::make_unique<FindState>();
  state->maskKey = mask == L"*.*" ? L"*" : ce::nameCaseKey(mask);
  DWORD error = 0;
  state->dir.reset(openFolder(folder, error));
  if (!state->dir) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (!nextEntry(*state, *data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return searches().add(std::move(state));
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  FindState* state = searches().find(find);
  if (!state || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (nextEntry(*state, *data)) return TRUE;
  SetLastError(ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL FindClose(HANDLE find) {
  if (!searches().remove(find)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
