// From a committed change to the PIM notification messages of its subscribers.
// Platform-internal.
#pragma once

#include <vector>

#include "platform/linux/poom/store.h"

namespace ce::poom {

// PIM_ITEM_{CREATED,DELETED,CHANGED}_{LOCAL,REMOTE}.
UINT notificationMessage(Change kind, bool remote);

// False when the subscriber's process is gone, even if another process now has its pid.
bool subscriberLives(const Subscriber& subscriber);

// Posts `change` to every subscriber whose mode wants it: remote changes to windows of other
// processes, local ones to this process's windows. Returns how many posts failed for a window
// that still exists; windows that are gone (destroyed, or their process died) are added to
// `gone` so that their subscriptions can be ended.
int notifySubscribers(const CommittedChange& change, std::vector<long long>& gone);

}  // namespace ce::poom
