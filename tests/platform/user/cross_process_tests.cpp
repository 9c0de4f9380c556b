// Messages between processes: lookup by class, delivery, refusal of strangers, junk and
// addresses, dead owners and a receiver that stops reading.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "platform/user/datagram.h"
#include "platform/user/process_socket.h"
#include "platform/user/window_table.h"
#include "tests/platform/user/user_test_support.h"
#include "tests/support/test_window.h"

namespace {

using ce::test::ChildProcess;
using ce::test::Pipe;
using ce::test::pumpUntil;
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
int connectToParent() {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = ce::user::socketPathOf(getppid());
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
  return fd;
}

void drainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
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
  drainQueue();
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
  drainQueue();
  EXPECT_EQ(sender.wait(), 0);
  std::vector<UINT> arrived;
  for (const MSG& m : everything) arrived.push_back(m.message);
  EXPECT_THAT(arrived, ::testing::ElementsAre(0x8100u, 0x8102u, static_cast<UINT>(WM_COMMAND),
                                              static_cast<UINT>(WM_USER)));
  std::string lines = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ce::test::countOf(lines, "refused a window message datagram from uid " +
                                         std::to_string(self) + " "),
            1u)
      << lines;
  EXPECT_EQ(ce::test::countOf(lines, "dropped a malformed window message datagram"), 4u)
      << lines;
  EXPECT_EQ(ce::test::countOf(lines, "refused window message 0x"), std::size(addressMessages))
      << lines;
  EXPECT_EQ(ce::test::countOf(lines, "refused window message 0x8101 from pid " +
                                         std::to_string(sender.pid())),
            1u)
      << lines;
  EXPECT_EQ(ce::test::countOf(lines, "\n"), 5u + std::size(addressMessages)) << lines;
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

TEST_F(CrossProcessTest, ChildExitLeavesTheParentsWindowsInPlace) {
  HWND window = makeWindow(L"Parent");
  ChildProcess child([] {
    // A normal exit, with exit handlers, as a tool process ends.
    std::exit(FindWindowW(L"Parent", nullptr) ? 0 : 1);
    return 2;
  });
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(FindWindowW(L"Parent", nullptr), window);
  ChildProcess poster([window] { return PostMessageW(window, WM_USER, 1, 0) ? 0 : 1; });
  EXPECT_EQ(poster.wait(), 0);
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
