// Shell change notifications on Linux (inotify); the declarations are the device's own.
#pragma once

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/wintypes.h"
#include "platform/device/shell.h"
