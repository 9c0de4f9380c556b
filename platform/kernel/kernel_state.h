// Reset entry points of the kernel's own files. Platform-internal.
#pragma once

namespace ce::kernel {
void resetDeviceHome();
void resetClock();
void resetNamedMutexes();
void resetCodePages();
}  // namespace ce::kernel
