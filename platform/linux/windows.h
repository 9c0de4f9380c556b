// The slice of the Windows CE API that the listener uses, as our emulation serves it on Linux.
// Code above platform/ includes platform/windows.h, never this header.
#pragma once

#include "platform/linux/kernel/wintypes.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/registry/registry.h"
#include "platform/linux/user/user.h"
#include "platform/linux/user/timers.h"
#include "platform/linux/shell/shell.h"
#include "platform/linux/com/com.h"
#include "platform/linux/poom/poom.h"
