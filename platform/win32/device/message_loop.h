// The device's GetMessageW as the program's message loop sees it: desktop Windows' own, which
// also notes when it returned WM_QUIT, so that ce::messageLoopQuit() (platform/process_state.h)
// can tell a loop that was asked to end from one that never ran.
#pragma once

BOOL CeGetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax);

#undef GetMessage
#define GetMessage CeGetMessageW
#define GetMessageW CeGetMessageW
