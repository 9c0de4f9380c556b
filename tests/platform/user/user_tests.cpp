// The windowing core: classes, windows and the message loop within one process, and messages
// between processes (lookup by class, delivery, refusal of strangers, junk and addresses, dead
// owners and a receiver that stops reading).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/device.h"
#include "platform/process_state.h"
#include "platform/testing.h"
#include "platform/linux/user/datagram.h"
#include "platform/linux/user/process_socket.h"
#include "platform/linux/user/window_files.h"
#include "platform/linux/user/window_table.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/support/device_test.h"
#include "tests/support/locale_for_scope.h"
#include "tests/support/test_window.h"

namespace {

using ce::test::ChildProcess;
using ce::test::Pipe;

// Dispatches messages until `done` holds or `deadline` passes; true when it held.
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  auto end = std::chrono::steady_clock::now() + deadline;
  MSG message;
  while (!done() && std::chrono::steady_clock::now() < end) {
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&message);
    else
      std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return done();
}

size_t countOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

LPVOID createParamsSeen = nullptr;

LRESULT CALLBACK recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
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

// A fresh recording and the class "Recorder" registered.
class WindowTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    createParamsSeen = nullptr;
    ASSERT_NE(registerClass(L"Recorder"), 0);
  }
};

// Registering twice, in another case, and the listener's close order (unregister while the
// window lives, destroy, unregister again) are the windows conformance area's.
TEST_F(WindowTest, ClassesAreAtomsFoundInAnyCaseAndAWindowNeedsOne) {
  EXPECT_GE(registerClass(L"ClientPushWindow"), 0xC000);
  SetLastError(0);
  EXPECT_EQ(createWindow(L"NoSuchClass"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  EXPECT_TRUE(UnregisterClassW(L"clientpushwindow", GetModuleHandleW(nullptr)));
  // Beyond ASCII too, in a process that set no locale, as the listener sets none.
  ce::test::LocaleForScope plainC("C");
  EXPECT_GE(registerClass(L"Fenster\u00c4"), 0xC000);
  EXPECT_TRUE(UnregisterClassW(L"fenster\u00e4", GetModuleHandleW(nullptr)));
}

// (What was queued for a window goes with it: the windows conformance area's.)
TEST_F(WindowTest, DestroyedAndUnknownHandlesAreRefused) {
  int params = 0;
  HWND window = createWindow(L"Recorder", &params);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(createParamsSeen, &params);
  EXPECT_TRUE(ce::isWindowOfThisProcess(window));
  EXPECT_EQ(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window)) >> 32,
            static_cast<uint64_t>(getpid()));

  ASSERT_TRUE(DestroyWindow(window));  // its messages: the windows conformance area's
  EXPECT_FALSE(ce::isWindowOfThisProcess(window));

  // The destroyed one and one of a process that does not exist.
  HWND nobodys = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x3FFFFFull << 32 | 1));
  for (HWND handle : {window, nobodys}) {
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
  for (int signal : {SIGTERM, SIGINT}) {
    struct sigaction current;
    sigaction(signal, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL) << signal;
  }
}

// The number of the system call `thread` of this process is in, "running" when in none.
std::string systemCallOf(pid_t thread) {
  std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
  std::string number;
  in >> number;
  return number;
}

// A loop asleep in GetMessageW wakes for what another thread posts and for a close signal:
// catches the wake-up descriptor never made, with which the loop sleeps through both.
TEST_F(WindowTest, ASleepingLoopWakesForAnotherThreadsPostAndForACloseSignal) {
  HWND window = createWindow(L"Recorder");
  for (bool bySignal : {false, true}) {
    std::atomic<pid_t> sleeper{0};
    std::atomic<bool> woke{false};
    MSG got{};
    std::thread loop([&] {
      sleeper = gettid();
      woke = GetMessageW(&got, nullptr, 0, 0) > 0;
    });
    // Sent once the loop sleeps in poll(): one sent before would be taken without a wake-up.
    const std::string poll = std::to_string(SYS_poll);
    bool asleep = ce::test::waitFor([&] { return sleeper && systemCallOf(sleeper) == poll; });
    if (asleep && bySignal) raise(SIGTERM);
    if (asleep && !bySignal) PostMessageW(window, WM_USER + 7, 7, 0);
    if (!asleep || !ce::test::waitFor([&] { return woke.load(); })) {
      loop.detach();  // asleep for good: the test's process ends with it
      FAIL() << (asleep ? "the loop slept through " : "the loop never slept, before ")
             << (bySignal ? "a close signal" : "another thread's post");
    }
    loop.join();
    EXPECT_EQ(got.hwnd, window);
    EXPECT_EQ(got.message, bySignal ? static_cast<UINT>(WM_CLOSE) : WM_USER + 7);
  }
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

  // A '%' in a class or title, even one that looks like an escape, comes back as itself.
  ASSERT_NE(registerClass(L"50%Class"), 0);
  HWND percent = CreateWindowExW(0, L"50%Class", L"%00000041 of 100%", WS_BORDER, 0, 0, 0, 0,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  windows = ce::listWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[1].hwnd, percent);
  EXPECT_EQ(windows[1].className, L"50%Class");
  EXPECT_EQ(windows[1].title, L"%00000041 of 100%");
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
  ASSERT_TRUE(pumpUntil([] {
    return std::count(ticks.begin(), ticks.end(), 5u) >= 2 &&
           std::count(ticks.begin(), ticks.end(), 6u) >= 2;
  }));
  EXPECT_TRUE(KillTimer(window, 5));
  EXPECT_TRUE(KillTimer(window, 6));

  UINT_PTR first = SetTimer(nullptr, 0, 1000, nullptr);
  UINT_PTR second = SetTimer(nullptr, 0, 1000, nullptr);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  EXPECT_TRUE(KillTimer(nullptr, first));
  EXPECT_TRUE(KillTimer(nullptr, second));

  // A timer's ticks already waiting go with it; another timer's, or a thread tick of the same
  // id, stay. (The ticks are posted by hand: these timers would fire in minutes.)
  ASSERT_EQ(SetTimer(window, 7, 600000, nullptr), 7u);
  ASSERT_EQ(SetTimer(window, 8, 600000, nullptr), 8u);
  PostMessageW(window, WM_TIMER, 7, 0);
  PostMessageW(window, WM_TIMER, 8, 0);
  PostMessageW(nullptr, WM_TIMER, 7, 0);
  EXPECT_TRUE(KillTimer(window, 7));
  std::vector<std::pair<HWND, WPARAM>> left;
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE))
    left.emplace_back(message.hwnd, message.wParam);
  EXPECT_EQ(left, (std::vector<std::pair<HWND, WPARAM>>{{window, 8}, {nullptr, 7}}));
  EXPECT_TRUE(KillTimer(window, 8));
}

using CrossProcessTest = ce::test::DeviceTest;

std::vector<MSG> received;  // WM_USER and above
// Every message but those of the window's own creation and end.
std::vector<MSG> everything;

LRESULT CALLBACK keepingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_CREATE && message != WM_DESTROY)
    everything.push_back(MSG{hwnd, message, wParam, lParam, 0, {0, 0}});
  if (message >= WM_USER) received.push_back(MSG{hwnd, message, wParam, lParam, 0, {0, 0}});
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND makeWindow(const wchar_t* className) { return ce::test::makeWindow(className, keepingProc); }

uint64_t valueOf(HWND window) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window)); }

// A socket of the child's own, connected straight to the parent's, for hand-made datagrams.
sockaddr_un unixAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

int connectToParent() {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address = unixAddress(ce::user::socketPathOf(getppid()));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd;
}

// WM_CREATE, WM_SETTEXT, WM_COPYDATA, WM_TIMER (whose lParam is a procedure to call) and
// the shell's WM_FILECHANGEINFO.
constexpr UINT addressMessages[] = {0x0001, 0x000C, 0x004A, 0x0113, 0x8101};

ce::user::WindowMessageDatagram datagramFor(HWND window, UINT message, WPARAM wParam) {
  ce::user::WindowMessageDatagram d{};
  d.magic = ce::user::kDatagramMagic;
  d.version = ce::user::kDatagramVersion;
  d.hwnd = valueOf(window);
  d.message = message;
  d.wParam = wParam;
  return d;
}

TEST_F(CrossProcessTest, AChildFindsTheWindowByClassAndItsMessagesArriveInOrderThenClose) {
  constexpr WPARAM kCount = 10000;
  HWND window = makeWindow(L"ClientPushWindow");
  ChildProcess child([] {
    HWND target = FindWindowW(L"clientpushwindow", nullptr);
    for (WPARAM i = 0; i < kCount; ++i)
      if (!PostMessageW(target, WM_APP, i, ~static_cast<LPARAM>(i))) return 10;
    return PostMessageW(target, WM_CLOSE, 0, 0) ? 0 : 11;
  });
  ASSERT_TRUE(pumpUntil([&] { return !IsWindow(window) || child.exited(); }));
  // What the child posted before it exited is already in our socket.
  ASSERT_TRUE(pumpUntil([&] { return !IsWindow(window); }, std::chrono::seconds(5)))
      << "child exit code " << child.wait();
  EXPECT_EQ(child.wait(), 0);
  ASSERT_EQ(received.size(), kCount);
  for (WPARAM i = 0; i < kCount; ++i) {
    ASSERT_EQ(received[i].wParam, i);
    ASSERT_EQ(received[i].lParam, ~static_cast<LPARAM>(i));
    ASSERT_EQ(received[i].hwnd, window);
  }
}

// Datagrams written by hand, as any process of the user can: one from another user, malformed
// ones and ones whose parameter would be read as an address are dropped with a line each
// (PostMessageW refuses the last kind before sending); integers and good datagrams arrive.
TEST_F(CrossProcessTest, ForeignMalformedAndAddressDatagramsAreDroppedWithALine) {
  HWND window = makeWindow(L"Guarded");
  testing::internal::CaptureStderr();
  // The kernel reports the child's real uid; the receiver is told to expect another one.
  const long long self = getuid();
  ce::testing::acceptMessagesFromUser(self + 1);
  ChildProcess stranger([window] {
    int fd = connectToParent();
    auto d = datagramFor(window, WM_USER, 1);
    return fd >= 0 && send(fd, &d, sizeof d, 0) == sizeof d ? 0 : 1;
  });
  ASSERT_TRUE(pumpUntil([&] { return stranger.exited(); }));
  ce::test::pumpUntilIdle();
  EXPECT_EQ(stranger.wait(), 0);
  EXPECT_TRUE(everything.empty());

  ce::testing::acceptMessagesFromUser(-1);
  ChildProcess sender([window] {
    for (UINT message : addressMessages)
      if (PostMessageW(window, message, 1, 0x1234) || GetLastError() != ERROR_MESSAGE_SYNC_ONLY)
        return 1;
    int fd = connectToParent();
    if (fd < 0) return 2;
    auto wrongMagic = datagramFor(window, WM_USER, 2);
    wrongMagic.magic ^= 1;
    auto wrongVersion = datagramFor(window, WM_USER, 3);
    wrongVersion.version = ce::user::kDatagramVersion + 1;
    char longer[sizeof(ce::user::WindowMessageDatagram) + 1] = {};
    auto good = datagramFor(window, WM_USER, 4);
    std::memcpy(longer, &good, sizeof good);
    send(fd, "abc", 3, 0);
    send(fd, &wrongMagic, sizeof wrongMagic, 0);
    send(fd, &wrongVersion, sizeof wrongVersion, 0);
    send(fd, longer, sizeof longer, 0);
    for (UINT message : addressMessages) {
      auto d = datagramFor(window, message, 1);
      d.lParam = 0xDEADBEEF;
      send(fd, &d, sizeof d, 0);
    }
    // The address messages' neighbours carry integers and pass.
    for (UINT message : {0x8100u, 0x8102u, static_cast<UINT>(WM_COMMAND)})
      if (!PostMessageW(window, message, 1, 0xDEADBEEF)) return 4;
    return send(fd, &good, sizeof good, 0) == sizeof good ? 0 : 5;
  });
  ASSERT_TRUE(pumpUntil([&] { return sender.exited(); }));
  ce::test::pumpUntilIdle();
  EXPECT_EQ(sender.wait(), 0);
  std::vector<UINT> arrived;
  for (const MSG& m : everything) arrived.push_back(m.message);
  EXPECT_THAT(arrived, ::testing::ElementsAre(0x8100u, 0x8102u, static_cast<UINT>(WM_COMMAND),
                                              static_cast<UINT>(WM_USER)));
  std::string lines = testing::internal::GetCapturedStderr();
  const std::string uid = std::to_string(self), pid = std::to_string(sender.pid());
  EXPECT_EQ(countOf(lines, "refused a window message datagram from uid " + uid + " "), 1u) << lines;
  EXPECT_EQ(countOf(lines, "dropped a malformed window message datagram"), 4u) << lines;
  EXPECT_EQ(countOf(lines, "refused window message 0x"), std::size(addressMessages)) << lines;
  EXPECT_EQ(countOf(lines, "refused window message 0x8101 from pid " + pid), 1u) << lines;
}

// A flood of malformed datagrams costs a bounded number of lines, and the rest is counted.
// Catches a receiver that writes a line per datagram (200,000 of them wrote 15 MB).
TEST_F(CrossProcessTest, AFloodOfMalformedDatagramsIsSaidInBoundedLines) {
  makeWindow(L"Flooded");
  testing::internal::CaptureStderr();
  constexpr int kFlood = 3000;
  const auto start = std::chrono::steady_clock::now();
  ChildProcess sender([] {
    int fd = connectToParent();
    for (int i = 0; fd >= 0 && i < kFlood; ++i)
      if (send(fd, "abc", 3, 0) != 3) return 1;
    return fd >= 0 ? 0 : 2;
  });
  ASSERT_TRUE(pumpUntil([&] { return sender.exited(); }));
  ce::test::pumpUntilIdle();
  EXPECT_EQ(sender.wait(), 0);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  ce::testing::reset();  // closes the socket, which says what it held back
  std::string lines = testing::internal::GetCapturedStderr();
  const size_t said = countOf(lines, "dropped a malformed window message datagram");
  EXPECT_LE(said, static_cast<size_t>(ce::user::ComplaintLimiter::kLinesPerSecond * (seconds + 2)));
  unsigned long long heldBack = 0;
  for (size_t at = lines.find("user: "); at != std::string::npos; at = lines.find("user: ", at + 1))
    heldBack += std::strtoull(lines.c_str() + at + 6, nullptr, 10);
  EXPECT_EQ(said + heldBack, static_cast<size_t>(kFlood)) << lines.substr(0, 2000);
}

// A window destroyed while another process's message to it travels: the message goes with it.
// Catches such a message handed out of the queue for a window that is no more.
TEST_F(CrossProcessTest, AMessageForAWindowDestroyedWhileItTravelledIsNotHandedOut) {
  HWND gone = makeWindow(L"GoneWhileSent");
  HWND kept = makeWindow(L"KeptWhileSent");
  ChildProcess sender([gone, kept] {
    return PostMessageW(gone, WM_APP, 1, 0) && PostMessageW(kept, WM_APP, 2, 0) ? 0 : 1;
  });
  // Both datagrams wait unread in our socket once the sender has ended.
  ASSERT_EQ(sender.wait(), 0);
  ASSERT_TRUE(DestroyWindow(gone));
  std::vector<std::pair<HWND, WPARAM>> handedOut;
  MSG message;
  // (The quit message that the destroyed window's procedure posts comes whatever the filter.)
  while (PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_REMOVE))
    if (message.message == WM_APP) handedOut.emplace_back(message.hwnd, message.wParam);
  EXPECT_EQ(handedOut, (std::vector<std::pair<HWND, WPARAM>>{{kept, 2}}));
  DestroyWindow(kept);
}

TEST_F(CrossProcessTest, WindowsOfAKilledProcessAreNotFoundNorPostable) {
  Pipe handle;
  ChildProcess owner([&handle] {
    HWND window = makeWindow(L"Ghost");
    handle.send(window);
    pause();
    return 0;
  });
  HWND ghost = nullptr;
  ASSERT_TRUE(handle.receive(ghost));
  HWND mine = makeWindow(L"Ghost");
  // Both live: the older one is found first, and both are listed in creation order.
  EXPECT_EQ(FindWindowW(L"Ghost", nullptr), ghost);
  auto windows = ce::listWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0].pid, owner.pid());
  EXPECT_EQ(windows[1].hwnd, mine);
  EXPECT_TRUE(IsWindow(ghost));
  EXPECT_TRUE(PostMessageW(ghost, WM_USER, 0, 0));
  EXPECT_FALSE(DestroyWindow(ghost));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  kill(owner.pid(), SIGKILL);
  EXPECT_EQ(owner.wait(), 128 + SIGKILL);
  EXPECT_EQ(FindWindowW(L"Ghost", nullptr), mine);
  EXPECT_FALSE(IsWindow(ghost));
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(ghost, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  ASSERT_EQ(ce::listWindows().size(), 1u);
}

// A question to the process, not to a window: answered between messages by the program's
// reporter, never delivered as a message, and a descriptor in any other datagram is closed.
TEST_F(CrossProcessTest, StateQueriesAreAnsweredByTheReporterAndNeverDelivered) {
  HWND window = makeWindow(L"Asked");
  const int self = getpid();
  auto ask = [self](const std::optional<std::string>& expected) {
    return [self, expected] { return ce::queryProcessState(self, 10000) == expected ? 0 : 1; };
  };
  ChildProcess unanswered(ask(std::nullopt));  // no reporter: the question is closed unanswered
  ASSERT_TRUE(pumpUntil([&] { return unanswered.exited(); }));
  EXPECT_EQ(unanswered.wait(), 0);

  int asked = 0;
  ce::setStateReporter([&asked] { return "state " + std::to_string(++asked); });
  ChildProcess answered(ask("state 1"));
  ASSERT_TRUE(pumpUntil([&] { return answered.exited(); }));
  EXPECT_EQ(answered.wait(), 0);
  EXPECT_TRUE(everything.empty());

  testing::internal::CaptureStderr();
  ChildProcess smuggler([window] {
    int fd = connectToParent();
    int pair[2];
    if (fd < 0 || socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) return 2;
    for (uint16_t flags : {uint16_t{0}, ce::user::kQueryState}) {
      auto d = datagramFor(window, WM_USER, 0);
      d.flags = flags;
      d.message = flags ? 0 : WM_USER;
      iovec vector{&d, sizeof d};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int)) * 2] = {};
      msghdr header{};
      header.msg_iov = &vector;
      header.msg_iovlen = 1;
      header.msg_control = control;
      // A message with a descriptor, then a question with two: both out of the protocol.
      int count = flags ? 2 : 1;
      header.msg_controllen = CMSG_SPACE(sizeof(int) * static_cast<size_t>(count));
      cmsghdr* rights = CMSG_FIRSTHDR(&header);
      rights->cmsg_level = SOL_SOCKET;
      rights->cmsg_type = SCM_RIGHTS;
      rights->cmsg_len = CMSG_LEN(sizeof(int) * static_cast<size_t>(count));
      int passed[2] = {pair[1], pair[1]};
      std::memcpy(CMSG_DATA(rights), passed, sizeof(int) * static_cast<size_t>(count));
      if (sendmsg(fd, &header, 0) != static_cast<ssize_t>(sizeof d)) return 3;
    }
    close(pair[1]);
    // Every copy passed on is closed by the receiver: the pair ends, and nothing answered.
    pollfd end{pair[0], POLLIN, 0};
    char byte;
    return poll(&end, 1, 10000) == 1 && recv(pair[0], &byte, 1, 0) == 0 ? 0 : 4;
  });
  ASSERT_TRUE(pumpUntil([&] { return smuggler.exited(); }));
  std::string lines = testing::internal::GetCapturedStderr();
  EXPECT_EQ(smuggler.wait(), 0);
  EXPECT_EQ(countOf(lines, "dropped a malformed window message datagram"), 2u) << lines;
  EXPECT_TRUE(everything.empty());
  EXPECT_EQ(asked, 1);

  // A process without windows has no socket to ask.
  ChildProcess windowless([] { return pause(), 0; });
  EXPECT_EQ(ce::queryProcessState(windowless.pid(), 10000), std::nullopt);
}

// What a boot clears: the window files and sockets that dead processes left in run/, and
// only those, whoever has their pids now.
TEST_F(CrossProcessTest, LeftoversOfDeadProcessesGoAndWhatLiveOnesHoldStays) {
  HWND mine = makeWindow(L"Kept");
  Pipe handle;
  ChildProcess killed([&handle] {
    handle.send(makeWindow(L"Killed"));
    return kill(getpid(), SIGKILL), 0;
  });
  HWND ghost = nullptr;
  ASSERT_TRUE(handle.receive(ghost));
  EXPECT_EQ(killed.wait(), 128 + SIGKILL);
  const std::string ghostFile = ce::user::windowFilePath(valueOf(ghost));
  const std::string ghostSocket = ce::user::socketPathOf(killed.pid());
  ASSERT_TRUE(std::filesystem::exists(ghostFile));
  ASSERT_TRUE(std::filesystem::exists(ghostSocket));
  // A window file of our pid that nobody holds: an earlier process with this pid left it.
  const std::string stale = ce::user::windowFilePath(valueOf(mine) + 0x100);
  ce::test::writeFile(stale, "ce-window 1\n");
  // A live process that never opened a socket, and a socket file under its pid.
  ChildProcess sleeper([] { return pause(), 0; });
  const std::string unbound = ce::user::socketPathOf(sleeper.pid());
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address = unixAddress(unbound);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);

  ce::removeLeftoversOfDeadProcesses();
  EXPECT_FALSE(std::filesystem::exists(ghostFile));
  EXPECT_FALSE(std::filesystem::exists(ghostSocket));
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_FALSE(std::filesystem::exists(unbound));
  // A child that ends normally, with exit handlers, as a tool process ends, takes none of ours.
  ChildProcess poster([mine] {
    std::exit(PostMessageW(mine, WM_USER, 5, 0) ? 0 : 1);
    return 2;
  });
  EXPECT_EQ(poster.wait(), 0);
  EXPECT_EQ(FindWindowW(L"Kept", nullptr), mine);
  EXPECT_TRUE(std::filesystem::exists(ce::user::windowFilePath(valueOf(mine))));
  EXPECT_TRUE(std::filesystem::exists(ce::user::socketPathOf(getpid())));
  ASSERT_TRUE(pumpUntil([&] { return !received.empty(); }));
  EXPECT_EQ(received[0].wParam, 5u);
}

TEST_F(CrossProcessTest, AReceiverThatNeverReadsMakesThePosterFailAfterTheBoundedWait) {
  Pipe ready, release;
  ChildProcess sink([&] {
    HWND window = makeWindow(L"Stuck");
    ready.send(window);
    release.block();
    return 0;
  });
  HWND stuck = nullptr;
  ASSERT_TRUE(ready.receive(stuck));
  ce::user::setPostTimeoutMs(50);
  // The kernel queues one datagram more than this for a socket nobody reads (fewer when
  // their bytes fill its buffer first): the post after them has to wait.
  int queueLength = 0;
  std::ifstream("/proc/sys/net/unix/max_dgram_qlen") >> queueLength;
  ASSERT_GT(queueLength, 0);
  int posted = 0;
  auto start = std::chrono::steady_clock::now();
  while (posted <= queueLength + 1 && PostMessageW(stuck, WM_USER, static_cast<WPARAM>(posted), 0))
    ++posted;
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_GT(posted, 0);
  EXPECT_LE(posted, queueLength + 1);
  EXPECT_GE(waited, std::chrono::milliseconds(50));
}

}  // namespace
