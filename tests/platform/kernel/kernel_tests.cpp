#include <signal.h>
#include <time.h>

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/process.h"
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
  // ".." is taken apart by name and stops at the root: fs/ is the device's whole world.
  ASSERT_TRUE(ce::hostPathOf(L"\\a\\..\\..\\etc\\passwd", host));
  EXPECT_EQ(host, home() + "/fs/etc/passwd");
  // Trailing dots and spaces, "*" and "?", the empty and the overlong path are the files
  // conformance area's; these are the reserved characters it does not try.
  for (const wchar_t* reserved : {L"\\a<b", L"\\a|b"}) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ce::hostPathOf(reserved, host)) << reserved;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << reserved;
  }
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

// (Within one process: the kernel_objects conformance area's "CreateMutexW same name again".)
TEST_F(KernelTest, NamedMutexIsHeldWhileAnyHandleOfAnyProcessIsOpen) {
  HANDLE first = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(first, nullptr);

  // A forked child does not share the parent's hold: its own close leaves the name held.
  EXPECT_TRUE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  EXPECT_TRUE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  // A second handle of this process: closing either one leaves the name held by the other.
  HANDLE second = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_TRUE(anotherProcessSeesItHeld(L"notlstnr.txt"));
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(anotherProcessSeesItHeld(L"notlstnr.txt"));

  // A holder that exits without closing never leaves the name stuck.
  ce::test::exitCodeInChild([] { return CreateMutexW(nullptr, TRUE, L"crash") ? 0 : 1; });
  HANDLE h = CreateMutexW(nullptr, TRUE, L"crash");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
}

// Handles are looked up, never read through: what is not an open handle of some family is
// refused, and a pseudo handle closes as nothing. (Junk values, a mutex closed twice and a
// registry key closed by CloseHandle are the kernel_objects conformance area's.)
TEST_F(KernelTest, CloseHandleAnswersForAnyValueAndClosesEachFamilysHandles) {
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(1))));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);

  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Closed", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_TRUE(CloseHandle(reinterpret_cast<HANDLE>(key)));
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // CloseHandle closed it
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(HKEY_LOCAL_MACHINE)));

  std::filesystem::create_directories(hostPath("fs/Notes"));
  ce::test::writeFile(hostPath("fs/Notes/a.txt"), "one");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(L"\\Notes\\*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// Names differing only far along (past any cut of the lock file's name) are two mutexes.
TEST_F(KernelTest, LongMutexNamesAreTheirOwnAndTheSessionFoldersShareTheBareNames) {
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

  // Local\ and Global\ name what the bare name names (the other folders and "" are the
  // kernel_objects conformance area's).
  HANDLE local = CreateMutexW(nullptr, TRUE, L"Local\\session");
  ASSERT_NE(local, nullptr);
  HANDLE global = CreateMutexW(nullptr, TRUE, L"Global\\session");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  for (HANDLE h : {global, local}) CloseHandle(h);
}

// Only a name that exists in no case is made, in the caller's case, in the folder as the
// device finds it (the rest of the device's case rules are the files conformance area's).
TEST_F(KernelTest, ANewFileGoesIntoTheFolderFoundInAnotherCase) {
  std::filesystem::create_directories(hostPath("fs/Notes"));
  FILE* made = _wfopen(L"\\notes\\New.Pwi", L"w");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/Notes/New.Pwi")), "");
}

// ASCII is upper-cased without ICU, which is loaded only for the first name beyond it: the
// letters' edges and their neighbours stay as ICU maps them, and the rest still goes through
// ICU's simple mapping (catches a bound off by one, a loaded function that is not the upper
// case, and a lookup that drops a folder path's last separator).
TEST_F(KernelTest, NameCaseKeysUpperCaseAsciiAndTheRestAlike) {
  EXPECT_EQ(ce::nameCaseKey(L"@AZ[`az{~ 09.doc"), L"@AZ[`AZ{~ 09.DOC");
  EXPECT_EQ(ce::nameCaseKey(L"\u00e4\u00c4\u03c3\u00df\u0131"), L"\u00c4\u00c4\u03a3\u00dfI");
  // A folder's path found in another case keeps its trailing separator, which is what keeps a
  // file of that name from answering for the folder.
  std::filesystem::create_directories(hostPath("fs/Notes"));
  std::string folder = ce::fsRoot() + "/NOTES/";
  EXPECT_TRUE(ce::matchCase(folder));
  EXPECT_EQ(folder, ce::fsRoot() + "/Notes/");
}

// Streams made over the opened descriptor: appends land after what is there whatever the
// position, a read and a seek see the file, "w" empties it, and closing lets the descriptor
// go (catches a seek that reports no position, which ftell and the log's size need, a
// partial write taken as the whole, and a descriptor left open per line).
TEST_F(KernelTest, FileStreamsAppendReadSeekAndCloseTheirDescriptor) {
  auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
  };
  auto before = openDescriptors();
  for (const char* line : {"first\n", "second\n"}) {
    FILE* log = _wfopen(L"\\stream.txt", L"a+");
    ASSERT_NE(log, nullptr);
    std::setvbuf(log, nullptr, _IONBF, 0);
    EXPECT_EQ(std::fputs(line, log), 1);
    EXPECT_EQ(std::fclose(log), 0);
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/stream.txt")), "first\nsecond\n");
  FILE* in = _wfopen(L"\\stream.txt", L"r+");
  ASSERT_NE(in, nullptr);
  char word[8] = {};
  EXPECT_EQ(std::fread(word, 1, 5, in), 5u);
  EXPECT_STREQ(word, "first");
  EXPECT_EQ(std::fseek(in, 0, SEEK_END), 0);
  EXPECT_EQ(std::ftell(in), 13);
  std::fclose(in);
  FILE* emptied = _wfopen(L"\\stream.txt", L"w");
  ASSERT_NE(emptied, nullptr);
  std::fclose(emptied);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/stream.txt")), "");
}

// The zone's daylight rules in the device's yearly form: month, weekday, week of the month
// (5 the last) and the local time before the change, for zones north and south with changes
// given in local time (the EU's, given in UTC, is the time conformance area's).
TEST_F(KernelTest, TimeZoneInformationCarriesTheZonesDaylightRules) {
  struct Zone {
    const char* tz;
    LONG bias;
    SYSTEMTIME standardDate, daylightDate;
    const wchar_t* standardName;
  };
  const Zone zones[] = {
      {"America/New_York", 300, {0, 11, 0, 1, 2, 0, 0, 0}, {0, 3, 0, 2, 2, 0, 0, 0},
       L"Eastern Standard Time"},
      {"Australia/Sydney", -600, {0, 4, 0, 1, 3, 0, 0, 0}, {0, 10, 0, 1, 2, 0, 0, 0},
       L"AUS Eastern Standard Time"},
  };
  auto same = [](const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek &&
           a.wDay == b.wDay && a.wHour == b.wHour && a.wMinute == b.wMinute;
  };
  for (const Zone& zone : zones) {
    setenv("TZ", zone.tz, 1);
    tzset();
    TIME_ZONE_INFORMATION info;
    DWORD id = GetTimeZoneInformation(&info);
    EXPECT_TRUE(id == TIME_ZONE_ID_STANDARD || id == TIME_ZONE_ID_DAYLIGHT) << zone.tz;
    EXPECT_EQ(info.Bias, zone.bias) << zone.tz;
    EXPECT_EQ(info.StandardBias, 0) << zone.tz;
    EXPECT_EQ(info.DaylightBias, -60) << zone.tz;
    EXPECT_TRUE(same(info.StandardDate, zone.standardDate)) << zone.tz;
    EXPECT_TRUE(same(info.DaylightDate, zone.daylightDate)) << zone.tz;
    EXPECT_STREQ(info.StandardName, zone.standardName) << zone.tz;
  }
  // No daylight saving: no dates, and the device's "unknown" answer.
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  TIME_ZONE_INFORMATION tokyo;
  EXPECT_EQ(GetTimeZoneInformation(&tokyo), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
  EXPECT_EQ(tokyo.Bias, -540);
  EXPECT_EQ(tokyo.DaylightDate.wMonth, 0);
  // (A test's bias standing in for the zone is LogTest's, whose stamps carry it.)
}

// Windows reads 29 February of any year as 1 March, but no other day past a month's end, and
// nothing past the largest FILETIME (the other edges are the time conformance area's).
TEST_F(KernelTest, SystemTimeConversionsTakeWhatWindowsTakes) {
  FILETIME file;
  SYSTEMTIME april{2011, 4, 0, 31, 0, 0, 0, 0}, beyond{30828, 9, 0, 14, 2, 48, 5, 478};
  for (const SYSTEMTIME& refused : {april, beyond}) {
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&refused, &file)) << refused.wYear;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
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
