// The device's API on desktop Windows: mingw-w64's own <windows.h> (with COM) serves all that
// desktop Windows has, and this header adds only what the device has and desktop Windows
// lacks or answers differently. Code above platform/ includes platform/windows.h, never this.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <objbase.h>

#include "platform/device/shell.h"
#include "platform/device/poom.h"
#include "platform/win32/device/entry.h"
#include "platform/win32/device/find_files.h"
#include "platform/win32/device/message_loop.h"
#include "platform/win32/device/registry_journal.h"
#include "platform/win32/device/clock.h"
#include "platform/win32/device/device_paths.h"
