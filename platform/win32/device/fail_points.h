// Failures a test plants in the calls the Windows side makes itself (platform/testing.h). Only
// those calls can fail this way: desktop Windows' own functions have no hook. Platform-internal.
#pragma once

#include "platform/win32/windows.h"

namespace ce::win32 {

// Whether calls of `function` can be made to fail here.
bool hasFailPoint(const char* function);
void armFailPoint(const char* function, long long result, DWORD lastError, int times);
void disarmFailPoints();
// True when a planted failure takes this call of `function`: `result` is then the call's
// result, and the last error is set.
bool failPointHit(const char* function, long long& result);

}  // namespace ce::win32
