// Another process of the same user may send the listener's windows anything that fits in a
// message datagram. None of it may take the listener down or stop it recording.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/process.h"
#include "platform/user/datagram.h"
#include "platform/user/process_socket.h"
#include "platform/windows.h"
#include "tests/e2e/device_fixture.h"

namespace {

using HostileMessagesTest = ce::test::DeviceProcessTest;

// Integers, and values that look like addresses in a 64-bit process (stack, heap, code).
const uint64_t hostileValues[] = {
    0,          1,          2,          7,          0x111,
    0xFFFF,     0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xDEADBEEF,
    0x00007FFD12345678, 0x0000555555559000, 0x00007F0000001000, ~uint64_t{0},
    uint64_t{1} << 63,
};
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

size_t countStartingWith(const std::vector<std::string>& entries, const std::string& text) {
  return ce::test::entriesStartingWith(entries, {text}).size();
}

TEST_F(HostileMessagesTest, NoMessageNumberOrParameterStopsTheListenerRecording) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const int pid = startListener();
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
  EXPECT_TRUE(ce::test::processRunning(pid));

  const size_t scheduledBefore = countStartingWith(log(), "CP: Next scheduled sync");
  std::ofstream(fsPath("My Documents/Briefcase/after.doc")) << "x";
  std::ofstream(fsPath("My Documents/Notes/after.pwi")) << "x";
  std::ofstream(fsPath("My Documents/My Pictures/after.jpg")) << "x";
  EXPECT_TRUE(waitForLog("CP Briefcase: It is a new item inserted"));
  EXPECT_TRUE(waitForLog("CP note: It is a new item inserted"));
  EXPECT_TRUE(waitForLog("CP Picture: It is a new item inserted"));
  EXPECT_TRUE(ce::test::waitFor(
      [&] { return countStartingWith(log(), "CP: Next scheduled sync") >= scheduledBefore + 3; },
      std::chrono::milliseconds(patienceMs)));
  EXPECT_TRUE(ce::test::processRunning(pid));

  // The refusals are told, not silent.
  std::string output = ce::test::readFile(home() + "/notlstnr-test.out");
  EXPECT_NE(output.find("refused window message 0x8101"), std::string::npos);
}

}  // namespace
