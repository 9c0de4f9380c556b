// The scheduler's wake-up after a committed change of the run-at-time requests.
// Platform-internal.
#pragma once

namespace ce::notify {

// Sets the store's change event, for the request of `app` that is committed. Never fails the
// caller: an event that cannot be set is reported to the process's receiver
// (setWakeFailureReceiver), once per streak of failures.
void signalCommit(const wchar_t* app) noexcept;

}  // namespace ce::notify
