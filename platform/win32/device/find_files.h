// Folder listings as the device gives them: its WIN32_FIND_DATAW carries dwOID, the entry's
// object identity, and its FindFirstFileW/FindNextFileW never list "." and "..". Desktop
// Windows has neither, so its find data and functions are replaced here under the same names.
#pragma once

struct CeFindDataW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  // The low 32 bits of the file's index on its volume, as the Linux side uses the inode.
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

HANDLE CeFindFirstFileW(LPCWSTR pattern, CeFindDataW* data);
BOOL CeFindNextFileW(HANDLE find, CeFindDataW* data);
// Ends a listing of CeFindFirstFileW (whose handle is not the system's).
BOOL CeFindClose(HANDLE find);

#undef WIN32_FIND_DATAW
#undef LPWIN32_FIND_DATAW
#define WIN32_FIND_DATAW CeFindDataW
#define LPWIN32_FIND_DATAW CeFindDataW*
#undef FindFirstFile
#undef FindNextFile
#define FindFirstFile CeFindFirstFileW
#define FindNextFile CeFindNextFileW
#define FindFirstFileW CeFindFirstFileW
#define FindNextFileW CeFindNextFileW
#define FindClose CeFindClose
