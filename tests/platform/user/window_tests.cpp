// Classes, windows and the message loop within one process.
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/testing.h"
#include "platform/user/window_table.h"
#include "tests/platform/user/user_test_support.h"
#include "tests/support/test_window.h"

namespace {

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;
LPVOID createParamsSeen = nullptr;

LRESULT CALLBACK recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  seen.push_back({hwnd, message, wParam, lParam});
  if (message == WM_CREATE)
    createParamsSeen = reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams;
  if (message == WM_DESTROY) PostQuitMessage(3);
  return message == WM_CLOSE ? DefWindowProcW(hwnd, message, wParam, lParam) : 0;
}

ATOM registerClass(const wchar_t* name, WNDPROC proc = recordingProc) {
  WNDCLASSW wc{0, proc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr,
               static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)), nullptr, name};
  return RegisterClassW(&wc);
}

HWND createWindow(const wchar_t* className, LPVOID params = nullptr) {
  return CreateWindowExW(0, className, nullptr, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                         GetModuleHandleW(nullptr), params);
}

bool hasDefaultSigterm() {
  struct sigaction current;
  sigaction(SIGTERM, nullptr, &current);
  return current.sa_handler == SIG_DFL;
}

// A fresh recording and the class "Recorder" registered.
class WindowTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    seen.clear();
    createParamsSeen = nullptr;
    ASSERT_NE(registerClass(L"Recorder"), 0);
  }
};

TEST_F(WindowTest, ClassesRegisterOncePerNameAndStayWhileTheirWindowsLive) {
  EXPECT_GE(registerClass(L"ClientPushWindow"), 0xC000);
  for (const wchar_t* again : {L"ClientPushWindow", L"CLIENTPUSHWINDOW"}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(registerClass(again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  }
  EXPECT_EQ(createWindow(L"NoSuchClass"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));

  // The listener's close order: unregister while the window lives, destroy, unregister again.
  HWND window = createWindow(L"ClientPushWindow");
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(UnregisterClassW(L"ClientPushWindow", GetModuleHandleW(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_TRUE(UnregisterClassW(L"clientpushwindow", GetModuleHandleW(nullptr)));
  EXPECT_FALSE(UnregisterClassW(L"ClientPushWindow", GetModuleHandleW(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(WindowTest, DestroyedAndUnknownHandlesAreRefusedAndQueuedMessagesForgotten) {
  int params = 0;
  HWND window = createWindow(L"Recorder", &params);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(createParamsSeen, &params);
  EXPECT_TRUE(ce::isWindowOfThisProcess(window));
  EXPECT_EQ(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window)) >> 32,
            static_cast<uint64_t>(getpid()));

  ASSERT_TRUE(PostMessageW(window, WM_USER, 1, 2));
  ASSERT_TRUE(DestroyWindow(window));
  std::vector<Seen> expected{{window, WM_CREATE, 0, seen[0].lParam}, {window, WM_DESTROY, 0, 0}};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(ce::isWindowOfThisProcess(window));

  // The WM_USER posted before the destruction is gone; only the quit of WM_DESTROY remains.
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

  // The destroyed one and one of a process that does not exist.
  for (HWND handle : {window, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x3FFFFFull << 32 | 1))}) {
    SetLastError(0);
    EXPECT_FALSE(PostMessageW(handle, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(DestroyWindow(handle));
  }
  EXPECT_TRUE(ce::listWindows().empty());
  HWND mine = createWindow(L"Recorder");
  EXPECT_FALSE(EndDialog(mine, 0));  // not a dialog: it stays
  EXPECT_TRUE(IsWindow(mine));
}

TEST_F(WindowTest, CloseSignalsReachTheOldestLiveWindowThenLeave) {
  HWND first = createWindow(L"Recorder");
  HWND second = createWindow(L"Recorder");
  raise(SIGTERM);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.hwnd, first);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_CLOSE));
  DestroyWindow(first);
  raise(SIGINT);
  ASSERT_TRUE(GetMessageW(&message, nullptr, WM_CLOSE, WM_CLOSE));
  EXPECT_EQ(message.hwnd, second);
  DestroyWindow(second);
  // Without windows the process is back to the default: the signal would end it.
  EXPECT_TRUE(hasDefaultSigterm());
  struct sigaction current;
  sigaction(SIGINT, nullptr, &current);
  EXPECT_EQ(current.sa_handler, SIG_DFL);
}

TEST_F(WindowTest, TheWindowTableSkipsWhatIsNotOurs) {
  HWND window = createWindow(L"Recorder");
  ASSERT_NE(window, nullptr);
  // Not ours: a FIFO (a plain open would block), junk, and a record of a window nobody holds.
  ASSERT_EQ(mkfifo((ce::runDir() + "/window.00000001000000aa").c_str(), 0600), 0);
  ce::test::writeFile(ce::runDir() + "/window.00000001000000bb", "junk");
  ce::test::writeFile(ce::runDir() + "/window.00000001000000cc",
                      "ce-window 1\nhwnd 00000001000000cc\npid 1\norder 0\nclass Recorder\n"
                      "title \n");
  auto windows = ce::listWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].hwnd, window);
  EXPECT_EQ(FindWindowW(L"Recorder", nullptr), window);
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000000aaull))));
  EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000000ccull)),
                            WM_USER, 0, 0));
}

// Posts a message when its eventfd is written, and asks to be woken every millisecond while
// it waits for its third drain.
class CountingSource : public ce::MessageSource {
 public:
  CountingSource() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~CountingSource() override { close(fd_); }
  int descriptor() const override { return fd_; }
  void drain() override {
    ++drains;
    uint64_t value;
    if (read(fd_, &value, sizeof value) == sizeof value) PostMessageW(nullptr, WM_APP, value, 0);
    if (waitingForTimeout && drains >= 3) {
      waitingForTimeout = false;
      PostMessageW(nullptr, WM_APP + 1, 0, 0);
    }
  }
  int pendingTimeoutMs() const override { return waitingForTimeout ? 1 : -1; }
  void signal(uint64_t value) {
    ssize_t ignored = write(fd_, &value, sizeof value);
    (void)ignored;
  }
  int drains = 0;
  bool waitingForTimeout = false;

 private:
  int fd_;
};

TEST_F(WindowTest, TheLoopWakesForSourcesTheirTimeoutsAndOtherThreads) {
  CountingSource source;
  ce::addMessageSource(&source);
  ce::addMessageSource(&source);
  MSG message;
  std::thread writer([&] { source.signal(42); });
  ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
  writer.join();
  EXPECT_EQ(message.message, static_cast<UINT>(WM_APP));
  EXPECT_EQ(message.wParam, 42u);

  source.waitingForTimeout = true;
  source.drains = 0;
  ASSERT_TRUE(GetMessageW(&message, nullptr, 0, 0));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_APP + 1));
  EXPECT_EQ(source.drains, 3);

  ce::removeMessageSource(&source);
  source.signal(7);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

  HWND window = createWindow(L"Recorder");
  std::thread poster([&] { PostMessageW(window, WM_USER + 9, 0, 0); });
  ASSERT_TRUE(GetMessageW(&message, window, 0, 0));
  poster.join();
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 9));
}

std::vector<WPARAM> ticks;

LRESULT CALLBACK tickingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_TIMER) ticks.push_back(wParam);
  return 0;
}

TEST_F(WindowTest, TimersTickUntilKilledAndThreadTimersGetIdsOfTheirOwn) {
  HWND window = ce::test::makeWindow(L"Ticking", tickingProc);
  EXPECT_EQ(SetTimer(window, 5, 20, nullptr), 5u);
  EXPECT_EQ(SetTimer(window, 6, 20, nullptr), 6u);
  ASSERT_TRUE(ce::test::pumpUntil([] {
    return std::count(ticks.begin(), ticks.end(), 5u) >= 2 &&
           std::count(ticks.begin(), ticks.end(), 6u) >= 2;
  }));
  EXPECT_TRUE(KillTimer(window, 5));
  EXPECT_FALSE(KillTimer(window, 5));
  EXPECT_TRUE(KillTimer(window, 6));

  UINT_PTR first = SetTimer(nullptr, 0, 1000, nullptr), second = SetTimer(nullptr, 0, 1000, nullptr);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  EXPECT_TRUE(KillTimer(nullptr, first));
  EXPECT_TRUE(KillTimer(nullptr, second));
}

}  // namespace
