// Windows of the test's own process, for tests that need messages delivered.
#pragma once

#include "platform/windows.h"

namespace ce::test {

// A window of class `className` (registered on first use) whose messages go to `procedure`.
inline HWND makeWindow(const wchar_t* className, WNDPROC procedure,
                       const wchar_t* title = nullptr) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = procedure;
  cls.lpszClassName = className;
  if (!RegisterClassW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return CreateWindowExW(0, className, title, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                         nullptr);
}

// One message as a window procedure was handed it.
struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Received&) const = default;
};

// Dispatches every message already queued.
inline void pumpUntilIdle() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

}  // namespace ce::test
