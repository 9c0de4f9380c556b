// The core services of the device: time, last-error, named mutexes, files on device paths,
// code-page conversions, thread priority, module handle and the message box.
#pragma once

#include <cstdio>

#include "platform/linux/kernel/wintypes.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

// 100-nanosecond intervals since 1 January 1601.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2
#define TIME_ZONE_ID_INVALID ((DWORD)0xFFFFFFFF)

void GetLocalTime(LPSYSTEMTIME time);
// The zone TZ names (else the host's): the standard Bias, the daylight rules (DaylightBias,
// StandardDate and DaylightDate as yearly rules, wYear 0) and the device's zone names;
// TIME_ZONE_ID_STANDARD or TIME_ZONE_ID_DAYLIGHT by the time now, TIME_ZONE_ID_UNKNOWN for a
// zone without daylight saving.
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info);
// Exact conversions from 1601 up to the largest FILETIME (30828-09-14 02:48:05.477), as
// Windows takes them: February has 29 days in every year; the day of week of the input is
// ignored.
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time);

DWORD GetLastError();
void SetLastError(DWORD code);

// Named mutex with the device's semantics: ERROR_ALREADY_EXISTS while another handle of the
// name is open in this or another process. Unnamed mutexes are private to their handle.
HANDLE CreateMutexW(LPVOID securityAttributes, BOOL initialOwner, LPCWSTR name);
BOOL CloseHandle(HANDLE handle);

// Device paths ("\My Documents\x") are mapped into the device home's fs/ folder.
FILE* _wfopen(const wchar_t* path, const wchar_t* mode);
DWORD GetFileAttributesW(LPCWSTR path);

// One entry of a folder listing. dwOID is the entry's object identity: the low 32 bits of
// its inode here.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

// Lists a folder: the pattern is a folder's device path followed by "\*" or "\*.*" (no other
// wildcards). Entries come in no particular order, without "." and "..". A folder that does
// not exist gives ERROR_PATH_NOT_FOUND, an empty one ERROR_FILE_NOT_FOUND; the end of the
// listing is ERROR_NO_MORE_FILES. Links are described, not followed.
HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE find);

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
// The flags the device's MultiByteToWideChar and WideCharToMultiByte take (docs/code-pages.md).
#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_COMPOSITECHECK 0x00000200
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textBytes, LPWSTR out,
                        int outChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textChars, LPSTR out,
                        int outBytes, LPCSTR defaultChar, BOOL* usedDefaultChar);

// The device's 0 (highest) to 7 (idle) scale.
#define THREAD_PRIORITY_TIME_CRITICAL 0
#define THREAD_PRIORITY_HIGHEST 1
#define THREAD_PRIORITY_ABOVE_NORMAL 2
#define THREAD_PRIORITY_NORMAL 3
#define THREAD_PRIORITY_BELOW_NORMAL 4
#define THREAD_PRIORITY_LOWEST 5
#define THREAD_PRIORITY_ABOVE_IDLE 6
#define THREAD_PRIORITY_IDLE 7
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

HMODULE GetModuleHandleW(LPCWSTR moduleName);

#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L
#define MB_SETFOREGROUND 0x00010000L
#define IDOK 1
// No screen here: the caption and text go to standard error.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
