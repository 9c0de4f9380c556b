#include "platform/win32/windows.h"
#include "platform/win32/device/fail_points.h"

#include <cwchar>
#include <string>

// Desktop Windows' own listing under the names this header replaced.
#undef FindFirstFileW
#undef FindNextFileW
#undef FindClose
#undef WIN32_FIND_DATAW

namespace {

bool isDotEntry(const WCHAR* name) {
  return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// The folder part of a pattern, with its trailing backslash ("C:\a\*" -> "C:\a\").
std::wstring folderOf(LPCWSTR pattern) {
  std::wstring folder(pattern);
  size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
}

// The entry's index on its volume; 0 when the entry cannot be opened (gone meanwhile, or
// locked), which a summary then reads as a change, never as an error.
DWORD objectIdOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  BY_HANDLE_FILE_INFORMATION info{};
  DWORD id = GetFileInformationByHandle(file, &info) ? info.nFileIndexLow : 0;
  CloseHandle(file);
  return id;
}

void copyEntry(const WIN32_FIND_DATAW& from, const std::wstring& folder, CeFindDataW* to) {
  to->dwFileAttributes = from.dwFileAttributes;
  to->ftCreationTime = from.ftCreationTime;
  to->ftLastAccessTime = from.ftLastAccessTime;
  to->ftLastWriteTime = from.ftLastWriteTime;
  to->nFileSizeHigh = from.nFileSizeHigh;
  to->nFileSizeLow = from.nFileSizeLow;
  static_assert(sizeof to->cFileName == sizeof from.cFileName);
  std::wmemcpy(to->cFileName, from.cFileName, MAX_PATH);
  to->dwOID = objectIdOf(folder + from.cFileName);
}

// Skips "." and ".." from the entry in `data` on; FALSE with ERROR_NO_MORE_FILES at the end.
BOOL nextRealEntry(HANDLE find, WIN32_FIND_DATAW& data) {
  while (isDotEntry(data.cFileName))
    if (!FindNextFileW(find, &data)) return FALSE;
  return TRUE;
}

// A listing handle of ours: the system's handle and the folder its names are relative to.
struct Listing {
  HANDLE find;
  std::wstring folder;
};

}  // namespace

HANDLE CeFindFirstFileW(LPCWSTR pattern, CeFindDataW* data) {
  if (!pattern || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (long long forced; ce::win32::failPointHit("FindFirstFileW", forced))
    return reinterpret_cast<HANDLE>(forced);
  std::wstring hostPattern = ce::win32::hostPathOf(pattern);
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(hostPattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  if (!nextRealEntry(find, entry)) {
    // A folder that holds only "." and ".." is empty on the device.
    FindClose(find);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  auto* listing = new Listing{find, folderOf(hostPattern.c_str())};
  copyEntry(entry, listing->folder, data);
  return reinterpret_cast<HANDLE>(listing);
}

BOOL CeFindNextFileW(HANDLE handle, CeFindDataW* data) {
  auto* listing = reinterpret_cast<Listing*>(handle);
  if (!listing || handle == INVALID_HANDLE_VALUE || !data) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  WIN32_FIND_DATAW entry;
  if (!FindNextFileW(listing->find, &entry) || !nextRealEntry(listing->find, entry)) return FALSE;
  copyEntry(entry, listing->folder, data);
  return TRUE;
}

BOOL CeFindClose(HANDLE handle) {
  auto* listing = reinterpret_cast<Listing*>(handle);
  if (!listing || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL closed = FindClose(listing->find);
  delete listing;
  return closed;
}
