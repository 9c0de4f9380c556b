#include <signal.h>

#include <string>

#include "platform/device.h"
#include "platform/process.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/support/device_test.h"

namespace {

using KernelTest = ce::test::DeviceTest;

TEST_F(KernelTest, DevicePathsAndFileNamesMapIntoFsAndNeverEscapeIt) {
  std::string host;
  ASSERT_TRUE(ce::hostPathOf(L"\\My Documents\\Notes\\memo.pwi", host));
  EXPECT_EQ(host, home() + "/fs/My Documents/Notes/memo.pwi");
  ASSERT_TRUE(ce::hostPathOf(L".\\synclog.txt", host));
  EXPECT_EQ(host, home() + "/fs/synclog.txt");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ce::hostPathOf(L"\\a\\..\\..\\etc\\passwd", host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(ce::hostPathOf(std::wstring(MAX_PATH, L'x').c_str(), host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(ce::devicePathOf(home() + "/fs/My Documents/x"), L"\\My Documents\\x");
  EXPECT_EQ(ce::devicePathOf("/etc/passwd"), L"");

  // Names that are not UTF-8 survive the round trip; a lone surrogate names no file.
  std::string back;
  ASSERT_TRUE(ce::narrowFileName(ce::widenFileName("caf\xe9-\xff.txt"), back));
  EXPECT_EQ(back, "caf\xe9-\xff.txt");
  EXPECT_FALSE(ce::narrowFileName(std::wstring(1, static_cast<wchar_t>(0xD800)), back));
}

// Whether a forked child (no exec, no reset) finds `name` held; it closes what it opened.
bool anotherProcessSeesItHeld(const wchar_t* name) {
  return ce::test::exitCodeInChild([name] {
           HANDLE h = CreateMutexW(nullptr, TRUE, name);
           bool exists = h && GetLastError() == ERROR_ALREADY_EXISTS;
           CloseHandle(h);
           return exists ? 1 : 0;
         }) == 1;
}

TEST_F(KernelTest, NamedMutexIsHeldWhileAnyHandleOfAnyProcessIsOpen) {
  HANDLE first = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(second));

  // A forked child does not share the parent's hold: its own close leaves the name held.
  EXPECT_TRUE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  EXPECT_TRUE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A holder that exits without closing never leaves the name stuck.
  ce::test::exitCodeInChild([] { return CreateMutexW(nullptr, TRUE, L"crash") ? 0 : 1; });
  HANDLE h = CreateMutexW(nullptr, TRUE, L"crash");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
}

// Processes are known by pid and start time together: a pid alone may have been given again.
using ProcessTest = ce::test::DeviceTest;

ce::Process startSleeper() {
  ce::SpawnOptions options;
  options.argv = {"/bin/sleep", "60"};
  std::string error;
  ce::Process process = ce::Process::start(options, error);
  EXPECT_TRUE(process.valid()) << error;
  return process;
}

TEST_F(ProcessTest, AProcessIsFoundOnlyByItsOwnStartTimeAndOnlyWhileItRuns) {
  ce::Process sleeper = startSleeper();
  ce::ProcessIdentity identity = sleeper.identity();
  ASSERT_GT(identity.startTime, 0u);
  EXPECT_EQ(ce::ProcessIdentity::parse(identity.text())->startTime, identity.startTime);
  EXPECT_FALSE(ce::ProcessIdentity::parse(std::to_string(identity.pid)));  // a bare pid

  ce::ProcessIdentity earlier = identity;
  earlier.startTime -= 1;  // an earlier process that had the same pid
  ce::Process impostor = ce::Process::find(earlier);
  EXPECT_FALSE(impostor.valid());
  EXPECT_FALSE(impostor.terminate());
  ce::Process found = ce::Process::find(identity);
  ASSERT_TRUE(found.valid());

  EXPECT_FALSE(sleeper.waitForEnd(0));
  ASSERT_TRUE(found.terminate());
  ASSERT_TRUE(sleeper.waitForEnd(10000));
  EXPECT_EQ(sleeper.exitCode(), 128 + SIGTERM);
  EXPECT_TRUE(found.ended());
  EXPECT_FALSE(found.terminate());
  EXPECT_FALSE(ce::Process::find(identity).valid());
}

}  // namespace
