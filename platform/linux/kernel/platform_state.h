// Shared plumbing of the platform families: fail points and reset hooks. Platform-internal.
#pragma once

#include "platform/linux/kernel/wintypes.h"

namespace ce {

// True when a fail point is armed for `function`: `result` receives the value to return and
// the last error is already set.
bool failPointHit(const char* function, long long& result);

// A family of objects that CloseHandle may be given besides the kernel's own (registry keys):
// true when `handle` was one of its open handles, which it has now closed.
using HandleCloser = bool (*)(HANDLE handle);
void addHandleCloser(HandleCloser closer);

// Called when a process has worked through a burst of messages and waits again: each family
// gives back what it keeps only to be faster, then the heap returns its free pages. SQLite's
// page caches are the main such keep: any other process's commit empties them anyway, so after
// a burst they seldom save a read for long. A family busy on another thread is left alone.
using IdleTrim = void (*)();
void addIdleTrim(IdleTrim trim);
void trimIdleMemory();

// Called by ce::testing::reset(), latest registered first.
using ResetHook = void (*)();
void addResetHook(ResetHook hook);

}  // namespace ce
