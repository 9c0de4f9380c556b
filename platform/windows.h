// The slice of the Windows CE API that the listener uses: the one header code above platform/
// includes (with platform/pimstore.h, platform/notify.h, platform/registry_transaction.h and
// platform/process_state.h where it needs them), and the only place that knows which
// implementation serves it. On Linux our emulation serves all of it (platform/linux/); on
// Windows the system's own headers serve what desktop Windows has, and platform/win32/ adds
// what only the device has.
#pragma once

#ifdef _WIN32
#include "platform/win32/windows.h"
#else
#include "platform/linux/windows.h"
#endif
