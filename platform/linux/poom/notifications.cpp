// Delivery of PIM notifications through the window messages of the user family.
#include "platform/linux/poom/notifications.h"

#include <unistd.h>

#include "platform/linux/poom/poom.h"
#include "platform/linux/process.h"
#include "platform/linux/user/user.h"

namespace ce::poom {

UINT notificationMessage(Change kind, bool remote) {
  UINT base = remote ? PIM_ITEM_CREATED_REMOTE : PIM_ITEM_CREATED_LOCAL;
  switch (kind) {
    case Change::created: return base;
    case Change::deleted: return base + 1;
    case Change::changed: return base + 2;
  }
  return base + 2;
}

bool subscriberLives(const Subscriber& subscriber) {
  if (subscriber.started == 0) return true;  // unknown: only its window can tell
  auto now = ce::ProcessIdentity::of(subscriber.pid);
  return now && now->startTime == subscriber.started;
}

int notifySubscribers(const CommittedChange& change, std::vector<long long>& gone) {
  const int self = static_cast<int>(getpid());
  int undelivered = 0;
  for (const Subscriber& subscriber : change.subscribers) {
    bool remote = subscriber.pid != self;
    DWORD wanted = remote ? PIMFOLDERNOTIFICATION_REMOTE : PIMFOLDERNOTIFICATION_LOCAL;
    if ((subscriber.mode & wanted) == 0) continue;
    // A subscriber that died without Logoff may have passed its pid, and with it the same
    // window handle values, to a new process: that one was never subscribed.
    if (!subscriberLives(subscriber)) {
      gone.push_back(subscriber.window);
      continue;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(subscriber.window));
    if (PostMessageW(window, notificationMessage(change.kind, remote), change.oid,
                     change.folder))
      continue;
    // FIXME: a subscription stored by an older version names no start time; if its process
    // died without Logoff and a new process got the pid, that one's window is notified.
    if (GetLastError() == ERROR_INVALID_WINDOW_HANDLE)
      gone.push_back(subscriber.window);
    else
      ++undelivered;
  }
  return undelivered;
}

}  // namespace ce::poom
