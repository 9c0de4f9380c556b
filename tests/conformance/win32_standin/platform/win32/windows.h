// Stand-in for platform/win32/windows.h until the Windows build's own header is on this
// branch: mingw-w64's <windows.h> with COM, and the device-only declarations. Only the
// conformance build uses it (tests/conformance/CMakeLists.txt adds its folder to the include
// path when platform/win32/windows.h is missing).
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
