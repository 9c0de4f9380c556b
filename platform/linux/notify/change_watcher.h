// Sleeping until the run-at-time table changes, on Linux: inotify on system/, an eventfd
// that wakeScheduler() writes and the pidfds of running programs. Platform-internal to the
// Linux side and its tools (the scheduler loop of platform/notify.h sleeps on it).
#pragma once

#include "platform/notify.h"

namespace ce::notify {

// Sleeps until the store changes, a started program ends, wakeScheduler() is called or the
// timeout passes, without polling. Create it before reading the store, so that no change
// between the read and the sleep is missed. Moves, does not copy.
class ChangeWatcher {
 public:
  // changed: a commit was announced, or the store was replaced or removed. logWritten: a
  // writer wrote the store's log, whose commit may not be visible yet (whatever else came).
  enum class Wake { changed, logWritten, timeout, woken };

  ChangeWatcher();  // throws std::runtime_error when the watch cannot be set up
  ~ChangeWatcher();
  ChangeWatcher(ChangeWatcher&& other) noexcept;
  ChangeWatcher& operator=(ChangeWatcher&& other) noexcept;
  ChangeWatcher(const ChangeWatcher&) = delete;
  ChangeWatcher& operator=(const ChangeWatcher&) = delete;

  // timeoutMs < 0: no timeout. A started program that ends is reaped here and the wait goes
  // on. A signal delivered to this thread ends the wait as `woken`.
  Wake wait(int timeoutMs);

 private:
  int inotifyFd_ = -1;
};

}  // namespace ce::notify
