// CeRunAppAtTime: validates the request and records it, unless it is pending already.
#include <cwchar>
#include <string>

#include "platform/notify.h"
#include "platform/win32/notify/commit_signal.h"
#include "platform/win32/notify/request_store.h"
#include "platform/win32/notify/time_ticks.h"

namespace {

// Characters Windows refuses in a name; '*' and '?' are a pattern's.
bool isReservedInName(wchar_t c) {
  return c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'|' || c == L'"';
}

}  // namespace

BOOL CeRunAppAtTime(LPCWSTR appName, const SYSTEMTIME* time) {
  // The store's own calls set the last error on their way; a request that succeeds leaves it
  // as the caller had it.
  const DWORD callersError = GetLastError();
  if (!appName || !*appName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const size_t length = std::wcslen(appName);
  if (length >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  long long due = 0;
  if (time && !ce::notify::ticksOf(*time, due)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // A path the scheduler could never start is refused now, where the caller can still see
  // the error.
  for (size_t i = 0; i < length; ++i)
    if (isReservedInName(appName[i])) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
  const std::wstring app(appName, length);
  bool written = false;
  DWORD error = time ? ce::notify::store::put(app, due, written)
                     : ce::notify::store::remove(app, written);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  if (written) ce::notify::signalCommit(appName);
  SetLastError(callersError);
  return TRUE;
}
