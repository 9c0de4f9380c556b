// Local times as stored: FILETIME ticks (100 ns since 1601). Platform-internal.
#pragma once

#include "platform/windows.h"

namespace ce::notify {

// False for a time the device cannot hold (month 13, 30 February, year 1600, ...).
bool ticksOf(const SYSTEMTIME& time, long long& ticks);
// False for ticks outside the years 1601 to 30827.
bool timeOf(long long ticks, SYSTEMTIME& time);

constexpr long long ticksPerMillisecond = 10000;

}  // namespace ce::notify
