// Window classes, windows and the message queue: the device's windowing core as far as hidden
// windows go. Messages reach windows of this process through the in-process queue and windows
// of other processes through one datagram socket per process (see datagram.h).
#pragma once

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/wintypes.h"

typedef WORD ATOM;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#ifndef CE_POINT_DEFINED
#define CE_POINT_DEFINED
struct POINT {
  LONG x;
  LONG y;
};
#endif

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
typedef WNDCLASSW WNDCLASS;

// What WM_CREATE carries in lParam.
struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // milliseconds of the system's monotonic clock when the message was posted
  POINT pt;    // always 0,0: there is no pointer
};
typedef MSG* LPMSG;

#define MAKEINTATOM(atom) ((LPCWSTR)(ULONG_PTR)((WORD)(atom)))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_COMMAND 0x0111
#define WM_USER 0x0400
#define WM_APP 0x8000

#define WS_OVERLAPPED 0x00000000L
#define WS_BORDER 0x00800000L
#define WS_VISIBLE 0x10000000L
#define CW_USEDEFAULT ((int)0x80000000)

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define SYSTEM_FONT 13
#define DEFAULT_PALETTE 15

#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#ifndef ERROR_MESSAGE_SYNC_ONLY
#define ERROR_MESSAGE_SYNC_ONLY 1159L
#endif

// Fails with ERROR_CLASS_ALREADY_EXISTS (1410) for a name this process has already registered
// (names compare without regard to case); returns the class atom.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
// Fails with ERROR_CLASS_HAS_WINDOWS (1412) while a window of the class exists, and with
// ERROR_CLASS_DOES_NOT_EXIST (1411) for a name (or atom) not registered with this instance.
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);

// The window procedure receives WM_CREATE before this returns; the window is then visible to
// FindWindowW in every process of the device. Parent, menu, position and size are kept by no
// one: every window here is a hidden top-level window.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID createParams);
// Sends WM_DESTROY, then forgets the window and every message still queued for it. Only
// windows of this process can be destroyed.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// There are no dialogs here, so no window is one: FALSE, ERROR_INVALID_WINDOW_HANDLE, and the
// window is left alone.
BOOL EndDialog(HWND dialog, INT_PTR result);

// Waits for the next message: non-zero for a message, 0 for WM_QUIT (wParam is the exit code
// given to PostQuitMessage), -1 for a bad argument.
BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
// As GetMessageW without waiting: TRUE when a message was found (removed with PM_REMOVE).
BOOL PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// No keyboard here: nothing to translate.
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
// To a window of another process the message travels as integers: pointers do not cross.
// FALSE with ERROR_INVALID_WINDOW_HANDLE for an unknown window or one whose process is gone,
// ERROR_TIMEOUT when the other process has not taken its messages for a few seconds, and
// ERROR_MESSAGE_SYNC_ONLY for a message whose parameter is an address (WM_CREATE,
// WM_SETTEXT, WM_COPYDATA, WM_TIMER, WM_FILECHANGEINFO, ...), which the receiver would
// also refuse.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; windows of this process only.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// WM_CLOSE destroys the window; every other message is answered with 0, and no parameter is
// ever read.
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HGDIOBJ GetStockObject(int object);

// Searches the windows of every live process of the device, oldest first. Either argument may
// be NULL to match anything; both compare without regard to case.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
