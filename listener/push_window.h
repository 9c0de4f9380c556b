// The "ClientPushWindow" window: PIM notifications and the control point for other processes.
#pragma once

#include "platform/windows.h"

LRESULT CALLBACK ClientPushWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
