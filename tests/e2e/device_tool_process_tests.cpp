// The device tool acts only on processes it started: records in run/ that outlived their
// processes name nobody, a supervisor's death takes its children along, a listener that
// cannot receive messages is not reported as booted, and a detached boot keeps none of its
// caller's descriptors. And no message another process can send stops the listener.
#include <dlfcn.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unicode/uvernum.h>

#include "platform/linux/process.h"
#include "platform/linux/user/datagram.h"
#include "platform/linux/user/process_socket.h"
#include "platform/windows.h"
#include "tests/e2e/device_fixture.h"
#include "tests/platform/child_processes.h"

namespace {

using DeviceToolProcessTest = ce::test::DeviceProcessTest;
using ce::test::running;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

std::vector<int> childrenOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<int> children;
  for (int child; in >> child;) children.push_back(child);
  return children;
}

TEST_F(DeviceToolProcessTest, RecordsLeftByADeadDeviceNeverReachAnotherProcess) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const int stranger = spawn({"/bin/sleep", "60"}).id();
  // A device that died left its records; the pid has since gone to an unrelated process.
  for (const char* record : {"boot.pid", "listener.pid", "scheduler.pid"})
    ce::test::writeFile(hostPath(std::string("run/") + record), std::to_string(stranger) + "\n");

  auto started = Clock::now();
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 1) << down.out;
  EXPECT_THAT(down.err, HasSubstr("not running"));
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(running(stranger));

  // Boot and shutdown of the device itself go on around the stale records.
  bootDevice();
  down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_TRUE(running(stranger));
}

TEST_F(DeviceToolProcessTest, KilledSupervisorTakesItsSchedulerAndListenerAlong) {
  bootDevice();
  int supervisor = recordedPid("boot.pid");
  ASSERT_GT(supervisor, 0);
  std::vector<int> children = childrenOf(supervisor);
  ASSERT_EQ(children.size(), 2u);  // the scheduler and the listener
  ASSERT_TRUE(ce::test::signalProcess(supervisor, SIGKILL));
  EXPECT_TRUE(waitUntil(
      [&] { return !running(supervisor) && !running(children[0]) && !running(children[1]); }));
}

// A scheduler that outlived its supervisor (one that did not take the supervisor's death as
// its end) is ended by the next boot before that boot's own scheduler starts.
TEST_F(DeviceToolProcessTest, NextBootEndsASchedulerLeftRunning) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  ce::Process& leftover =
      spawn({ce::test::cedevicePath(), "--home", home(), "scheduler"}, hostPath("leftover.out"));
  ce::test::writeFile(hostPath("run/scheduler.pid"), leftover.identity().text() + "\n");

  bootDevice();
  EXPECT_TRUE(leftover.ended());
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
}

TEST_F(DeviceToolProcessTest, BootFailsWhenTheListenerCannotReceiveMessages) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  // Entries under the socket names of the pids the next processes will get (on this host
  // a thousand pids go by in minutes, not within one boot).
  int last = std::stoi(ce::test::readFile("/proc/sys/kernel/ns_last_pid"));
  int limit = std::stoi(ce::test::readFile("/proc/sys/kernel/pid_max"));
  ASSERT_GT(limit, 0);
  for (int i = 1; i <= 1000; ++i) {
    int pid = (last + i) % limit;
    if (pid < 300) continue;
    std::filesystem::create_directory(hostPath("run/socket." + std::to_string(pid)));
  }
  auto boot = cedevice({"boot", "--detach"});
  EXPECT_EQ(boot.exitCode, 1) << boot.out;
  EXPECT_THAT(boot.err, HasSubstr("cannot receive messages"));
  EXPECT_THAT(boot.out, ::testing::Not(HasSubstr("device booted")));

  // The failed boot took its processes down and let go of the device.
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 1);
  EXPECT_THAT(down.err, HasSubstr("not running"));
}

// The ICU library this build loads, as the loader finds it; "" when it cannot.
std::string icuLibraryPath() {
  void* icu = dlopen("libicuuc.so." U_ICU_VERSION_SHORT, RTLD_LAZY | RTLD_LOCAL);
  link_map* map = nullptr;
  std::string path = icu && dlinfo(icu, RTLD_DI_LINKMAP, &map) == 0 && map ? map->l_name : "";
  if (icu) dlclose(icu);
  return path;
}

// ICU is loaded when a name beyond ASCII first needs it. Where it cannot be (a broken install,
// hidden here by a mount of /dev/null over it, in namespaces of the test's own), the tool ends
// at that point with the loader's code and a line naming the library, and a name in ASCII still
// works: catches a failed load taken for a loaded library (a call through a null function).
TEST_F(DeviceToolProcessTest, WithoutICUANameBeyondAsciiEndsTheToolSayingWhyAndAsciiWorks) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const std::string icu = icuLibraryPath();
  ASSERT_FALSE(icu.empty());
  auto withoutIcu = [&](const std::string& key) {
    std::string hide = "mount --bind /dev/null " + ce::test::shellQuoted(icu) + " && exec " +
                       ce::test::cedeviceCommand(home(), {"reg", "set", key, "v", "1"});
    return ce::test::runShell("unshare --user --map-root-user --mount sh -c " +
                                  ce::test::shellQuoted(hide),
                              hostPath("unshare.err"));
  };
  auto ascii = withoutIcu("HKLM\\Software\\Plain");
  if (ascii.exitCode != 0 && (ascii.err.find("unshare:") != std::string::npos ||
                              ascii.err.find("mount:") != std::string::npos))
    GTEST_SKIP() << "no namespaces of our own here: " << ascii.err;
  EXPECT_EQ(ascii.exitCode, 0) << ascii.err;
  auto beyond = withoutIcu("HKLM\\Software\\\xc3\x84rger");
  EXPECT_EQ(beyond.exitCode, 127);
  EXPECT_THAT(beyond.err, HasSubstr("cedevice: cannot load ICU (libicuuc.so." U_ICU_VERSION_SHORT
                                    ")"));
  // With the library where it was, the same name is stored.
  EXPECT_EQ(cedevice({"reg", "set", "HKLM\\Software\\\xc3\x84rger", "v", "1"}).exitCode, 0);
}

// `make run`: a boot in the foreground shows the listener's log as it is written, and
// Ctrl-C shuts the device down. `log -f --until-shutdown` beside it shows each line once,
// through the log's truncation and recreation, and ends with the device.
TEST_F(DeviceToolProcessTest, ForegroundBootAndFollowedLogShowTheLogUntilCtrlCEndsTheDevice) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  using ce::test::waitForText;
  const std::string console = hostPath("console.out"), followed = hostPath("follow.out");
  const std::string log = fsPath("notlstnr.txt");
  ce::Process& boot = spawn({ce::test::cedevicePath(), "--home", home(), "boot"}, console);
  ASSERT_TRUE(waitForText(console, "CP: Init waiting PIM notification messages..."));
  ce::Process& follower = spawn(
      {ce::test::cedevicePath(), "--home", home(), "log", "-f", "--until-shutdown"}, followed);
  // The last lines come first; booting ends with the listener's ready line.
  ASSERT_TRUE(waitForText(followed, "CP: Init waiting PIM notification messages..."));

  std::filesystem::resize_file(log, 0);
  ASSERT_NE(pimAdd("contact", "Ann"), "");
  EXPECT_TRUE(waitForText(console, "CP: Item is 1"));  // written after the listener was ready
  EXPECT_TRUE(waitForText(followed, "CP: Item is 1"));
  EXPECT_THAT(ce::test::readFile(followed), HasSubstr("file truncated"));
  std::filesystem::rename(log, log + ".old");
  ASSERT_NE(pimAdd("task", "Report"), "");
  EXPECT_TRUE(waitForText(followed, "CP: Item is 2"));

  ASSERT_TRUE(boot.signal(SIGINT));
  EXPECT_EQ(exitCodeOf(boot), 0);
  EXPECT_TRUE(waitForText(console, "listener exited with code 0"));
  EXPECT_EQ(exitCodeOf(follower), 0) << "log --until-shutdown did not end with the device";
  // Each line once: a re-read from the start would repeat the boot lines.
  std::string shown = ce::test::readFile(followed);
  EXPECT_EQ(shown.find("CP: Item is 1"), shown.rfind("CP: Item is 1"));
}

// `$(cedevice boot --detach)` and wrappers that wait for a pipe: the device must not hold
// any descriptor of the caller once the tool has returned.
TEST_F(DeviceToolProcessTest, DetachedBootReturnsToACallerWaitingForItsPipe) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  std::string tool = ce::test::cedevicePath();
  pid_t caller = ce::test::spawn([&] {
    close(pipeEnds[0]);
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 3);  // a wrapper's own copy, as faketime and shells keep
    execl(tool.c_str(), tool.c_str(), "--home", home().c_str(), "boot", "--detach",
          static_cast<char*>(nullptr));
    return 127;
  });
  close(pipeEnds[1]);
  EXPECT_EQ(ce::test::exitCodeOf(caller), 0);
  std::string output;
  char buffer[512];
  ssize_t n = -1;
  for (pollfd readable{pipeEnds[0], POLLIN, 0}; poll(&readable, 1, patienceMs) > 0;) {
    if ((n = read(pipeEnds[0], buffer, sizeof buffer)) <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  EXPECT_EQ(n, 0);  // the pipe's end, not the patience running out
  EXPECT_THAT(output, HasSubstr("device booted"));
}

// Another process of the same user may send the listener's windows anything that fits in a
// message datagram. None of it may take the listener down or stop it recording.
using HostileMessagesTest = ce::test::DeviceProcessTest;

// Integers, and values that look like addresses in a 64-bit process (stack, heap, code).
const uint64_t hostileValues[] = {0, 1, 2, 7, 0x111, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                  0xDEADBEEF, 0x00007FFD12345678, 0x0000555555559000,
                                  0x00007F0000001000, ~uint64_t{0}, uint64_t{1} << 63};
constexpr size_t kValueCount = std::size(hostileValues);

// Message numbers of the system, of applications (WM_APP and the platform's own notifications
// above it) and the range registered messages and atoms are given out from.
std::vector<UINT> sweptMessages() {
  std::vector<UINT> messages;
  for (UINT m = 0; m <= 0x3FF; ++m)
    // These end the listener by design.
    if (m != WM_CLOSE && m != WM_DESTROY && m != WM_QUIT) messages.push_back(m);
  for (UINT m = 0x8000; m <= 0x81FF; ++m) messages.push_back(m);
  for (UINT m = 0xC000; m <= 0xC0FF; ++m) messages.push_back(m);
  messages.push_back(0xFFFF);
  return messages;
}

// Sent as the raw 40-byte datagram, as any process of the user can, without PostMessageW's
// own checks on the sending side.
DWORD sendRaw(HWND window, UINT message, uint64_t wParam, uint64_t lParam) {
  ce::user::WindowMessageDatagram d{};
  d.magic = ce::user::kDatagramMagic;
  d.version = ce::user::kDatagramVersion;
  d.hwnd = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
  d.message = message;
  d.wParam = wParam;
  d.lParam = static_cast<int64_t>(lParam);
  return ce::user::sendToOwner(d);
}

TEST_F(HostileMessagesTest, NoMessageNumberOrParameterStopsTheListenerRecording) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const int pid = startListener().id();
  ASSERT_TRUE(waitForLog("CP: Init waiting PIM notification messages..."));
  const wchar_t* classes[] = {L"ClientPushWindow", L"ClientPushWindowBriefcase",
                              L"ClientPushWindowNotes", L"ClientPushWindowPicture"};
  std::vector<HWND> windows;
  for (const wchar_t* name : classes) {
    HWND window = FindWindowW(name, nullptr);
    ASSERT_NE(window, nullptr);
    windows.push_back(window);
  }

  for (UINT message : sweptMessages())
    for (HWND window : windows)
      // Every value once as wParam and once as lParam, each time beside another one.
      for (size_t i = 0; i < kValueCount; ++i) {
        uint64_t wParam = hostileValues[i];
        uint64_t lParam = hostileValues[(i + 6) % kValueCount];
        // A dead listener's windows cannot be posted to: the first message that kills it is
        // the one named here.
        ASSERT_EQ(sendRaw(window, message, wParam, lParam), static_cast<DWORD>(ERROR_SUCCESS))
            << "message 0x" << std::hex << message << " wParam 0x" << wParam << " lParam 0x"
            << lParam << " to " << static_cast<const void*>(window);
      }

  // Messages from one sender are handled in order: once this is logged, the sweep has been
  // handled too. It also resumes every source that the sweep's commands suspended.
  ASSERT_EQ(sendRaw(windows[0], WM_COMMAND, 100, 0), static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(waitForLog("CP PIM WM_COMMAND resetFlag 100"));
  EXPECT_TRUE(running(pid));

  setSetting("clientPushList", "0");  // the sweep's PIM notifications recorded their sources
  ce::test::writeFile(fsPath("My Documents/Briefcase/after.doc"), "x");
  ce::test::writeFile(fsPath("My Documents/My Pictures/after.jpg"), "x");
  waitUntilHandled();
  EXPECT_EQ(setting("clientPushList"), "112");

  // The refusals are told, not silent (the first ones each in a line: a sweep this fast
  // reaches the limit of lines per second, and the rest are counted).
  std::string output = ce::test::readFile(home() + "/notlstnr-test.out");
  EXPECT_NE(output.find("refused window message 0x"), std::string::npos);
}

}  // namespace
