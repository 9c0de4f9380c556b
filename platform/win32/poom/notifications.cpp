// Delivery of PIM notifications through PostMessageW, which reaches the windows of other
// processes as well as this one's.
#include "platform/win32/poom/notifications.h"

namespace ce::poom {

namespace {

UINT notificationMessage(Change kind, bool remote) {
  UINT base = remote ? PIM_ITEM_CREATED_REMOTE : PIM_ITEM_CREATED_LOCAL;
  switch (kind) {
    case Change::created: return base;
    case Change::deleted: return base + 1;
    case Change::changed: return base + 2;
  }
  return base + 2;
}

HWND windowOf(const Subscriber& subscriber) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(subscriber.window));
}

}  // namespace

unsigned long long processStarted(int pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return 0;
  FILETIME created, exited, kernel, user;
  bool known = GetProcessTimes(process, &created, &exited, &kernel, &user) != FALSE;
  DWORD exitCode = 0;
  bool running = GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
  CloseHandle(process);
  if (!known || !running) return 0;
  return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

bool subscriberLives(const Subscriber& subscriber) {
  HWND window = windowOf(subscriber);
  DWORD owner = 0;
  if (!IsWindow(window) || !GetWindowThreadProcessId(window, &owner) ||
      owner != static_cast<DWORD>(subscriber.pid))
    return false;
  return subscriber.started == 0 || processStarted(subscriber.pid) == subscriber.started;
}

int notifySubscribers(const CommittedChange& change, std::vector<long long>& gone) {
  const int self = static_cast<int>(GetCurrentProcessId());
  int undelivered = 0;
  for (const Subscriber& subscriber : change.subscribers) {
    bool remote = subscriber.pid != self;
    DWORD wanted = remote ? PIMFOLDERNOTIFICATION_REMOTE : PIMFOLDERNOTIFICATION_LOCAL;
    if ((subscriber.mode & wanted) == 0) continue;
    // A subscriber that died without Logoff may have passed its pid, or its window handle, on:
    // the new owner was never subscribed.
    if (!subscriberLives(subscriber)) {
      gone.push_back(subscriber.window);
      continue;
    }
    if (PostMessageW(windowOf(subscriber), notificationMessage(change.kind, remote), change.oid,
                     change.folder))
      continue;
    if (GetLastError() == ERROR_INVALID_WINDOW_HANDLE)
      gone.push_back(subscriber.window);
    else
      ++undelivered;
  }
  return undelivered;
}

}  // namespace ce::poom
