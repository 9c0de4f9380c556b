// The PIM object model on Linux (pim.db); the declarations are the device's own.
#pragma once

#include "platform/linux/com/com.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/wintypes.h"
#include "platform/device/poom.h"
