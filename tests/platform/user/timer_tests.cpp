// Timers posting WM_TIMER into the message loop.
#include <algorithm>
#include <vector>

#include "platform/windows.h"
#include "tests/platform/user/user_test_support.h"

namespace {

std::vector<WPARAM> ticks;

LRESULT CALLBACK tickingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_TIMER) ticks.push_back(wParam);
  return 0;
}

using TimerTest = ce::test::DeviceTest;

TEST_F(TimerTest, WindowTimerTicksUntilKilledAndBadRequestsAreRefused) {
  ticks.clear();
  WNDCLASSW wc{0, tickingProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr,
               nullptr, L"Ticking"};
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND window = CreateWindowExW(0, L"Ticking", nullptr, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(SetTimer(window, 5, 20, nullptr), 5u);
  EXPECT_EQ(SetTimer(window, 6, 20, nullptr), 6u);
  ASSERT_TRUE(ce::test::pumpUntil([] {
    return std::count(ticks.begin(), ticks.end(), 5u) >= 2 &&
           std::count(ticks.begin(), ticks.end(), 6u) >= 2;
  }));
  EXPECT_TRUE(KillTimer(window, 5));
  EXPECT_FALSE(KillTimer(window, 5));
  EXPECT_TRUE(KillTimer(window, 6));

  // Thread timers get ids of their own, never 0, whatever the caller asked for.
  UINT_PTR first = SetTimer(nullptr, 0, 1000, nullptr), second = SetTimer(nullptr, 0, 1000, nullptr);
  EXPECT_NE(first, 0u);
  EXPECT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_TRUE(KillTimer(nullptr, first));
  EXPECT_TRUE(KillTimer(nullptr, second));

  EXPECT_EQ(SetTimer(window, 7, 20, [](HWND, UINT, UINT_PTR, DWORD) {}), 0u);
  DestroyWindow(window);
  SetLastError(0);
  EXPECT_EQ(SetTimer(window, 8, 20, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
