// Reset entry points of the kernel's own files. Platform-internal.
#pragma once

#include <optional>

#include "platform/linux/kernel/wintypes.h"

namespace ce::kernel {
// The bias a test set in place of the zone's (ce::testing::setTimeZoneBias), if any.
std::optional<LONG> timeZoneBiasOverride();
// Forgets the zone read last (resetClock calls it: a test may change TZ).
void resetTimeZone();
void resetDeviceHome();
void resetClock();
void resetNamedMutexes();
}  // namespace ce::kernel
