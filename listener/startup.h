// Start-up, the message loop and the final clean-up of the listener.
#pragma once

#include "platform/windows.h"

enum PimFolderKind { pimContacts, pimCalendar, pimTasks };

class ClientPush;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand);
// The whole life of the listener; 0, or the negative result of createPushWindows.
int runClientPush(HINSTANCE moduleInstance);
// Registers the four classes and creates their windows; negative when any failed.
int createPushWindows(ClientPush* clientPush, HINSTANCE moduleInstance);
// 0: class registered and window created; 1: class already existed; -1: other failure.
int registerPushWindow(WNDCLASS* classRecord, WNDPROC windowProcedure, LPCWSTR className,
                       HINSTANCE moduleInstance, HWND* windowHandle);
// How often a change that a store refused is tried again while no other change comes.
inline constexpr UINT defaultRetryIntervalMs = 5000;
// Dispatches messages until WM_QUIT or an error of GetMessageW.
void runMessageLoop(ClientPush* clientPush, UINT retryIntervalMs = defaultRetryIntervalMs);
// The window as Logon takes it, a long: the whole handle where long holds a pointer (Linux),
// and on 64-bit Windows its low 32 bits, which are all a window handle has there (Windows
// sign-extends them back, as LongToHandle does).
long logonWindowValue(HWND window);
// Asks POOM to notify the logged-on window of that folder's changes.
HRESULT subscribePimFolder(IPOutlookApp2* outlookApp, int folderKind, ULONG mode);
