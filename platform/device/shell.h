// Shell change notifications as the device declares them: a window asks to be told when files
// in one folder are created, renamed or deleted, and receives WM_FILECHANGEINFO messages
// carrying a FILECHANGENOTIFY record that it hands back with SHChangeNotifyFree. Desktop
// Windows has none of this; each side of platform/ implements it. Included through
// platform/windows.h, after the side's own Win32 types.
#pragma once

// Event kinds, used both as the registration's mask and as a record's wEventId.
#define SHCNE_RENAMEITEM 0x00000001L
#define SHCNE_CREATE 0x00000002L
#define SHCNE_DELETE 0x00000004L
#define SHCNE_MKDIR 0x00000008L
#define SHCNE_RMDIR 0x00000010L
#define SHCNE_UPDATEDIR 0x00001000L
#define SHCNE_UPDATEITEM 0x00002000L
#define SHCNE_RENAMEFOLDER 0x00020000L
#define SHCNE_ALLEVENTS 0x7FFFFFFFL

// WM_APP + 0x101. wParam is 0; lParam is the FILECHANGENOTIFY*, which the receiver releases
// with SHChangeNotifyFree.
#define WM_FILECHANGEINFO (0x8000 + 0x101)

struct SHCHANGENOTIFYENTRY {
  DWORD dwEventMask;   // SHCNE_* kinds the window wants
  LPWSTR pszWatchDir;  // device path of the folder; copied, the caller keeps ownership
  BOOL fRecursive;     // must be FALSE: subfolders are never watched here
};

struct FILECHANGEINFO {
  DWORD cbSize;            // sizeof(FILECHANGEINFO)
  LONG wEventId;           // one SHCNE_* kind
  ULONG uFlags;            // 0
  DWORD_PTR dwItem1;       // const WCHAR*: device path of the item (for a rename, the old one)
  DWORD_PTR dwItem2;       // const WCHAR*: the new path of a rename, else 0
  // FIXME: the device describes the item in the next three; nothing here reads them, so they
  // stay 0 rather than cost a stat per event.
  DWORD dwAttributes;
  FILETIME ftModified;
  ULONG nFileSize;
};

struct FILECHANGENOTIFY {
  DWORD dwRefCount;
  FILECHANGEINFO fci;
};

// Watches entry->pszWatchDir (not its subfolders) for `window`, replacing the window's earlier
// registration (which stands when the new one is refused). FALSE with the reason in GetLastError when the folder does not exist, is not a
// folder, cannot be watched, the window is not one of this process, or fRecursive is TRUE.
BOOL SHChangeNotifyRegister(HWND window, SHCHANGENOTIFYENTRY* entry);
// A registration outlives its folder: when the folder is deleted or moved away (or a folder
// above it is) the window gets
// SHCNE_RMDIR with the folder's own path, and once a folder is back under that path (within a
// second) SHCNE_MKDIR with it, whatever the registration's mask.
//
// Ends the window's registration, also while its folder is gone; FALSE when it has none.
BOOL SHChangeNotifyDeregister(HWND window);
// Releases a record received with WM_FILECHANGEINFO. Pointers that are not live records are
// ignored.
void SHChangeNotifyFree(FILECHANGENOTIFY* notify);
