// Timers: SetTimer posts WM_TIMER to a window of this process, or to the thread itself when
// no window is given, every time its interval passes. As on the device, at most one WM_TIMER
// of a timer waits in the queue at a time, however many intervals passed meanwhile.
#pragma once

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/wintypes.h"

#define WM_TIMER 0x0113

typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// Starts (or restarts) timer `id` of `window`. Without a window the id is chosen here and
// returned; with one, `id` itself is returned. Call it, and KillTimer, on the thread that
// runs the message loop. 0 with the last error set on failure: a window that is not this
// process's (ERROR_INVALID_HANDLE), a timer procedure (only messages are supported), or no
// resources left. A window's timers end with the window.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure);
// Stops the timer and takes back a WM_TIMER of it already in the queue; FALSE when there is
// none (ERROR_INVALID_PARAMETER, or ERROR_INVALID_HANDLE for a window that is not one).
BOOL KillTimer(HWND window, UINT_PTR id);
