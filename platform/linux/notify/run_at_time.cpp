// CeRunAppAtTime: validates the request and records it in one commit, unless it is pending already.
#include <cwchar>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/notify.h"
#include "platform/linux/notify/app_key.h"
#include "platform/linux/notify/commit_signal.h"
#include "platform/linux/notify/request_store.h"
#include "platform/linux/notify/time_ticks.h"

BOOL CeRunAppAtTime(LPCWSTR appName, const SYSTEMTIME* time) {
  long long forced;
  if (ce::failPointHit("CeRunAppAtTime", forced)) return static_cast<BOOL>(forced);
  if (!appName || !*appName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (std::wcslen(appName) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  long long due = 0;
  if (time && !ce::notify::ticksOf(*time, due)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A path the scheduler could never start (a name that cannot be a file name; ".." never
  // leaves the file system) is refused now, where the caller can still see the error.
  try {
    std::string hostPath;
    if (!ce::hostPathOf(appName, hostPath)) return FALSE;
  } catch (const std::exception&) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  std::string app, key;
  if (!ce::narrowFileName(appName, app) ||
      !ce::narrowFileName(ce::notify::appKeyOf(appName), key)) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  // A burst of changes asks for the same time over and over. Leaving the pending request
  // alone is the same as replacing it, and costs a read instead of a durable commit; a read
  // that fails falls through to the write, which reports the failure.
  bool pending = false;
  if (time && ce::notify::store::isPending(key, app, due, pending).ok() && pending) return TRUE;
  ce::notify::store::Result result =
      time ? ce::notify::store::put(key, app, due) : ce::notify::store::remove(key);
  if (!result.ok()) {
    SetLastError(ce::notify::store::win32ErrorOf(result));
    return FALSE;
  }
  ce::notify::signalCommit(appName);
  return TRUE;
}
