// SIGTERM and SIGINT become WM_CLOSE to the process's first window, so a process with windows
// shuts down through its own close sequence. Platform-internal.
#pragma once

namespace ce::user {

// Catches both signals; each one sets a flag and writes to `wakeDescriptor` (an eventfd the
// message loop polls). Does nothing when already installed.
void installCloseSignals(int wakeDescriptor);
// Puts back the handlers that were there before.
void restoreCloseSignals();
// True once per caught signal burst: the loop then posts WM_CLOSE.
bool takeCloseRequest();

}  // namespace ce::user
