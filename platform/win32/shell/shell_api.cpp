// SHChangeNotifyRegister, SHChangeNotifyDeregister and SHChangeNotifyFree over the process's
// watcher thread (change_notifier.cpp).
#include "platform/win32/shell/change_notifier.h"
#include "platform/win32/shell/notification_records.h"

namespace {

bool isWindowOfThisProcess(HWND window) {
  DWORD process = 0;
  return window && IsWindow(window) && GetWindowThreadProcessId(window, &process) &&
         process == GetCurrentProcessId();
}

}  // namespace

BOOL SHChangeNotifyRegister(HWND window, SHCHANGENOTIFYENTRY* entry) {
  if (!entry || !entry->pszWatchDir) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Subfolders are never watched: nothing on this device asks for them.
  if (entry->fRecursive) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  // Records are pointers into this process's heap: another process could not read them.
  if (!isWindowOfThisProcess(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  const DWORD callersError = GetLastError();
  DWORD error = ce::shell::watchFolder(window, entry->pszWatchDir, entry->dwEventMask);
  SetLastError(error == ERROR_SUCCESS ? callersError : error);
  return error == ERROR_SUCCESS;
}

BOOL SHChangeNotifyDeregister(HWND window) {
  const DWORD callersError = GetLastError();
  if (!ce::shell::unwatchFolder(window)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetLastError(callersError);
  return TRUE;
}

void SHChangeNotifyFree(FILECHANGENOTIFY* notify) {
  if (notify) ce::shell::releaseRecord(notify);
}
