// The slice of the Windows CE API that the listener uses, served on Linux by platform/.
// Code above platform/ includes this header (and platform/pimstore.h, platform/notify.h where
// it needs them) and nothing Linux-specific.
#pragma once

#include "platform/kernel/wintypes.h"
#include "platform/kernel/kernel.h"

#if __has_include("platform/registry/registry.h")
#include "platform/registry/registry.h"
#endif
#if __has_include("platform/user/user.h")
#include "platform/user/user.h"
#endif
#if __has_include("platform/user/timers.h")
#include "platform/user/timers.h"
#endif
#if __has_include("platform/shell/shell.h")
#include "platform/shell/shell.h"
#endif
#if __has_include("platform/com/com.h")
#include "platform/com/com.h"
#endif
#if __has_include("platform/poom/poom.h")
#include "platform/poom/poom.h"
#endif
