#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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
  // ".." is taken apart by name and stops at the root: fs/ is the device's whole world.
  ASSERT_TRUE(ce::hostPathOf(L"\\a\\..\\..\\etc\\passwd", host));
  EXPECT_EQ(host, home() + "/fs/etc/passwd");
  ASSERT_TRUE(ce::hostPathOf(L"\\..", host));
  EXPECT_EQ(host, home() + "/fs");
  // Windows' reading: the last name loses trailing dots and spaces, another one dot.
  ASSERT_TRUE(ce::hostPathOf(L"\\Notes.\\memo.pwi . ", host));
  EXPECT_EQ(host, home() + "/fs/Notes/memo.pwi");
  ASSERT_TRUE(ce::hostPathOf(L"\\Notes \\memo.pwi", host));
  EXPECT_EQ(host, home() + "/fs/Notes /memo.pwi");
  ASSERT_TRUE(ce::hostPathOf(L"\\Notes\\", host));
  EXPECT_EQ(host, home() + "/fs/Notes/");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ce::hostPathOf(L"", host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  for (const wchar_t* reserved : {L"\\a*.txt", L"\\a?\\b", L"\\a<b", L"\\a|b"}) {
    EXPECT_FALSE(ce::hostPathOf(reserved, host)) << reserved;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << reserved;
  }
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

// The device's file system compares names without regard to case and keeps the case a
// name was made with: every call finds "a.txt" as "\\NOTES\\A.TXT", and only a name that
// exists in no case is made, in the caller's case.
TEST_F(KernelTest, FileCallsFindNamesInAnyCaseAndKeepTheCaseTheyWereMadeWith) {
  std::filesystem::create_directories(hostPath("fs/Notes"));
  ce::test::writeFile(hostPath("fs/Notes/a.txt"), "one");
  FILE* append = _wfopen(L"\\NOTES\\A.TXT", L"a");
  ASSERT_NE(append, nullptr);
  std::fputs("two", append);
  std::fclose(append);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/Notes/a.txt")), "onetwo");
  EXPECT_EQ(GetFileAttributesW(L"\\notes\\a.TXT"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesW(L"\\nOtEs"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  FILE* made = _wfopen(L"\\notes\\New.Pwi", L"w");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/Notes/New.Pwi")), "");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(L"\\NOTES\\*.PWI", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, L"New.Pwi");
  EXPECT_FALSE(FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(find));
  EXPECT_FALSE(FindClose(find));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // What is missing says where: the name (2) or its folder (3); a folder is no stream.
  EXPECT_EQ(GetFileAttributesW(L"\\Notes\\b.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(L"\\Gone\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesW(L"\\Notes\\a.txt\\"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(_wfopen(L"\\Gone\\a.txt", L"w"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(_wfopen(L"\\notes", L"r"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Patterns as Windows matches them, on the names alone; a listing never shows "." or "..".
TEST_F(KernelTest, FindFirstFileTakesTheDevicesPatterns) {
  std::filesystem::create_directories(hostPath("fs/f/empty"));
  for (const char* name : {"abc.pwi", "AXC.PWI", "b.pwi", "readme", "x.pwix", "note.pwi.bak"})
    ce::test::writeFile(hostPath(std::string("fs/f/") + name), "x");
  auto list = [](const wchar_t* pattern) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
      return std::vector<std::wstring>{L"error " + std::to_wstring(GetLastError())};
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  };
  using V = std::vector<std::wstring>;
  EXPECT_EQ(list(L"\\f\\*"), (V{L"AXC.PWI", L"abc.pwi", L"b.pwi", L"empty", L"note.pwi.bak",
                                   L"readme", L"x.pwix"}));
  EXPECT_EQ(list(L"\\f\\*.*"), list(L"\\f\\*"));
  EXPECT_EQ(list(L"\\f\\*.pwi"), (V{L"AXC.PWI", L"abc.pwi", L"b.pwi"}));
  EXPECT_EQ(list(L"\\f\\a?c.*"), (V{L"AXC.PWI", L"abc.pwi"}));
  EXPECT_EQ(list(L"\\f\\readme.*"), (V{L"readme"}));
  EXPECT_EQ(list(L"\\f\\B.PWI"), (V{L"b.pwi"}));
  EXPECT_EQ(list(L"\\F"), (V{L"f"}));
  EXPECT_EQ(list(L"\\f\\*.zzz"), (V{L"error 2"}));
  EXPECT_EQ(list(L"\\f\\empty\\*"), (V{L"error 2"}));
  EXPECT_EQ(list(L"\\f\\"), (V{L"error 2"}));
  EXPECT_EQ(list(L"\\g\\*"), (V{L"error 3"}));
  EXPECT_EQ(list(L"\\f*\\*"), (V{L"error 123"}));
  EXPECT_EQ(list(L""), (V{L"error 3"}));
}

// The zone's daylight rules in the device's yearly form: month, weekday, week of the month
// (5 the last) and the local time before the change, for zones north and south and with
// changes given in UTC (the EU) or in local time (the US, Australia).
TEST_F(KernelTest, TimeZoneInformationCarriesTheZonesDaylightRules) {
  struct Zone {
    const char* tz;
    LONG bias;
    SYSTEMTIME standardDate, daylightDate;
    const wchar_t* standardName;
  };
  const Zone zones[] = {
      {"Europe/Berlin", -60, {0, 10, 0, 5, 3, 0, 0, 0}, {0, 3, 0, 5, 2, 0, 0, 0},
       L"W. Europe Standard Time"},
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
  // A test's bias stands in for the zone, as the log's stamp tests use it.
  ce::testing::setTimeZoneBias(-330);
  EXPECT_EQ(GetTimeZoneInformation(&tokyo), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
  EXPECT_EQ(tokyo.Bias, -330);
}

// Windows' range and leniency: 29 February of any year (read as 1 March), and every time
// up to the largest FILETIME.
TEST_F(KernelTest, SystemTimeConversionsTakeWhatWindowsTakes) {
  SYSTEMTIME february{2011, 2, 0, 29, 0, 0, 0, 0};
  FILETIME file;
  ASSERT_TRUE(SystemTimeToFileTime(&february, &file));
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(&file, &back));
  EXPECT_EQ(back.wMonth, 3);
  EXPECT_EQ(back.wDay, 1);
  SYSTEMTIME april{2011, 4, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&april, &file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  SYSTEMTIME last{30828, 9, 0, 14, 2, 48, 5, 477};
  ASSERT_TRUE(SystemTimeToFileTime(&last, &file));
  EXPECT_EQ(file.dwHighDateTime, 0x7FFFFFFFu);
  SYSTEMTIME beyond{30828, 9, 0, 14, 2, 48, 5, 478};
  EXPECT_FALSE(SystemTimeToFileTime(&beyond, &file));
  FILETIME largest{0xFFFFFFFFu, 0x7FFFFFFFu};
  ASSERT_TRUE(FileTimeToSystemTime(&largest, &back));
  EXPECT_EQ(back.wYear, 30828);
  EXPECT_EQ(back.wMilliseconds, 477);
  FILETIME negative{0, 0x80000000u};
  EXPECT_FALSE(FileTimeToSystemTime(&negative, &back));
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
