// Programs the scheduler has started and not yet reaped. Platform-internal.
#pragma once

#include <vector>

namespace ce::notify {

// One descriptor per running program that becomes readable when it ends (pidfd), for the
// change watcher's poll.
std::vector<int> programEndDescriptors();

}  // namespace ce::notify
