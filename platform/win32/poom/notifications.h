// From a committed change to the PIM notification messages of its subscribers.
// Platform-internal.
#pragma once

#include <vector>

#include "platform/win32/poom/store.h"

namespace ce::poom {

// The creation time of process `pid` in FILETIME ticks; 0 when it is gone or cannot be asked.
unsigned long long processStarted(int pid);

// False when the subscriber's window is gone, or its process, even if another process now has
// the pid or another window the handle.
bool subscriberLives(const Subscriber& subscriber);

// Posts `change` to every subscriber whose mode wants it: remote changes to windows of other
// processes, local ones to this process's windows. Returns how many posts failed for a window
// that still exists; windows that are gone are added to `gone`.
int notifySubscribers(const CommittedChange& change, std::vector<long long>& gone);

}  // namespace ce::poom
