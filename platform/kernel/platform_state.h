// Shared plumbing of the platform families: fail points and reset hooks. Platform-internal.
#pragma once

#include "platform/kernel/wintypes.h"

namespace ce {

// True when a fail point is armed for `function`: `result` receives the value to return and
// the last error is already set.
bool failPointHit(const char* function, long long& result);

// Called by ce::testing::reset(), latest registered first.
using ResetHook = void (*)();
void addResetHook(ResetHook hook);

}  // namespace ce
