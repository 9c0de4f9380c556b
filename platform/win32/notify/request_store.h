// The run-at-time requests in <store folder>\notify.db. Platform-internal: callers go
// through CeRunAppAtTime and the ce::notify functions of platform/notify.h.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

namespace ce::notify::store {

// A request as stored: the device path as requested and the local due time in FILETIME ticks.
struct Row {
  std::wstring app;
  long long due;
};

// Each operation returns ERROR_SUCCESS or the Win32 error CeRunAppAtTime reports for it:
// ERROR_SHARING_VIOLATION (locked past the wait), ERROR_ACCESS_DENIED (cannot be opened),
// ERROR_BADDB (damaged or of a newer format), ERROR_CANTWRITE (the replacement failed).

// Adds or replaces the request of `app`'s program (paths compare without regard to case), due
// at `due`, cut to the whole second while that is still to come. Writes nothing when this very
// request is pending already; `written` says whether the store changed.
DWORD put(const std::wstring& app, long long due, bool& written);
// Removes the request of `app`'s program; `written` is false when there was none.
DWORD remove(const std::wstring& app, bool& written);
// Removes the request of `app`'s program only while it is still due at `due`.
DWORD removeExactly(const std::wstring& app, long long due, bool& removed);
// Requests due at `dueAtMost` or before, earliest first.
DWORD list(long long dueAtMost, std::vector<Row>& rows);
// The earliest due time; `found` is false when nothing is pending.
DWORD earliestDue(long long& due, bool& found);

// The name of the event that every committed change sets, for the scheduler to wait on.
DWORD changeEventName(std::wstring& name);

// Lines of the reason for people, for a failed operation.
std::string describe(DWORD error);

}  // namespace ce::notify::store
