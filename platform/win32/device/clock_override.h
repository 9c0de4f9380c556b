// What a test set of the clock (platform/testing.h). Platform-internal.
#pragma once

#include <optional>

#include "platform/win32/windows.h"
#include "platform/win32/device/exclusive.h"

namespace ce::win32 {

struct ClockOverride {
  SRWLOCK lock = SRWLOCK_INIT;
  std::optional<unsigned long long> frozenTicks;  // local time, 100 ns since 1601
  std::optional<LONG> bias;
};

ClockOverride& clockOverride();

}  // namespace ce::win32
