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

// Handles are looked up, never read through: what is not an open handle of some family is
// refused, and a pseudo handle closes as nothing.
TEST_F(KernelTest, CloseHandleAnswersForAnyValueAndClosesEachFamilysHandles) {
  const HANDLE junk[] = {reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x12345678)),
                         reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7777)),
                         reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(1))};
  for (HANDLE value : junk) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(value));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);

  HANDLE mutex = CreateMutexW(nullptr, TRUE, L"closed twice");
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(CloseHandle(mutex));
  EXPECT_FALSE(CloseHandle(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Closed", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(key)));
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // CloseHandle closed it
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(HKEY_LOCAL_MACHINE)));
}

// Names differing only far along (past any cut of the lock file's name) are two mutexes, and
// a name in a folder of names other than Local\ and Global\ does not exist.
TEST_F(KernelTest, EveryMutexNameIsItsOwnAndOnlyTheSessionFoldersExist) {
  const std::wstring longAscii(240, L'n');
  const std::wstring longAccented(250, static_cast<wchar_t>(0xE9));
  for (const std::wstring& stem : {longAscii, longAccented}) {
    HANDLE first = CreateMutexW(nullptr, TRUE, (stem + L"1").c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE second = CreateMutexW(nullptr, TRUE, (stem + L"2").c_str());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), 0u) << "two long names shared a lock";
    EXPECT_TRUE(anotherProcessSeesItHeld((stem + L"1").c_str()));
    EXPECT_FALSE(anotherProcessSeesItHeld((stem + L"3").c_str()));
    CloseHandle(second);
    CloseHandle(first);
    EXPECT_FALSE(anotherProcessSeesItHeld((stem + L"1").c_str()));
  }

  for (const wchar_t* name : {L"folder\\name", L"Local\\a\\b", L"local\\name", L"name\\"}) {
    SetLastError(0);
    EXPECT_EQ(CreateMutexW(nullptr, TRUE, name), nullptr) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << name;
  }
  HANDLE local = CreateMutexW(nullptr, TRUE, L"Local\\session");
  ASSERT_NE(local, nullptr);
  HANDLE bare = CreateMutexW(nullptr, TRUE, L"session");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE global = CreateMutexW(nullptr, TRUE, L"Global\\session");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  for (HANDLE h : {global, bare, local}) CloseHandle(h);

  // The device names "" like any other name; only a null name is private.
  HANDLE empty = CreateMutexW(nullptr, TRUE, L"");
  HANDLE emptyAgain = CreateMutexW(nullptr, TRUE, L"");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE unnamed = CreateMutexW(nullptr, TRUE, nullptr);
  HANDLE unnamedAgain = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  for (HANDLE h : {unnamedAgain, unnamed, emptyAgain, empty}) EXPECT_TRUE(CloseHandle(h));
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
