#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/device.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using KernelTest = ce::test::DeviceTest;

TEST_F(KernelTest, DevicePathsMapIntoFsAndNeverEscapeIt) {
  std::string host;
  ASSERT_TRUE(ce::hostPathOf(L"\\notlstnr.txt", host));
  EXPECT_EQ(host, home() + "/fs/notlstnr.txt");
  ASSERT_TRUE(ce::hostPathOf(L"\\My Documents\\Notes\\memo.pwi", host));
  EXPECT_EQ(host, home() + "/fs/My Documents/Notes/memo.pwi");
  ASSERT_TRUE(ce::hostPathOf(L".\\synclog.txt", host));
  EXPECT_EQ(host, home() + "/fs/synclog.txt");

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(ce::hostPathOf(L"\\a\\..\\..\\etc\\passwd", host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  std::wstring tooLong(MAX_PATH, L'x');
  EXPECT_FALSE(ce::hostPathOf(tooLong.c_str(), host));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

  EXPECT_EQ(ce::devicePathOf(home() + "/fs/My Documents/x"), L"\\My Documents\\x");
  EXPECT_EQ(ce::devicePathOf("/etc/passwd"), L"");
}

TEST_F(KernelTest, FileNamesThatAreNotUtf8SurviveTheRoundTrip) {
  std::string bytes = "caf\xe9-\xff.txt";
  std::wstring wide = ce::widenFileName(bytes);
  std::string back;
  ASSERT_TRUE(ce::narrowFileName(wide, back));
  EXPECT_EQ(back, bytes);
  EXPECT_FALSE(ce::narrowFileName(std::wstring(1, static_cast<wchar_t>(0xD800)), back));
}

TEST_F(KernelTest, FilesAndAttributesUseDevicePaths) {
  FILE* f = _wfopen(L"\\hello.txt", L"a+");
  ASSERT_NE(f, nullptr);
  std::fputs("hi", f);
  std::fclose(f);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/hello.txt")), "hi");
  EXPECT_EQ(GetFileAttributesW(L"\\hello.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(L"\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetFileAttributesW(L"\\gone.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(_wfopen(L"\\no such dir\\x.txt", L"a+"), nullptr);
  EXPECT_EQ(_wfopen(L"\\x.txt", L"q"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ce::testing::setFailPoint("_wfopen", 0, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(_wfopen(L"\\hello.txt", L"r"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  FILE* again = _wfopen(L"\\hello.txt", L"r");
  ASSERT_NE(again, nullptr);
  std::fclose(again);
}

TEST_F(KernelTest, FileTimeCalendarIsExactAtTheEdges) {
  SYSTEMTIME first{1601, 1, 0, 1, 0, 0, 0, 0};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&first, &ft));
  EXPECT_EQ(ft.dwLowDateTime, 0u);
  EXPECT_EQ(ft.dwHighDateTime, 0u);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wDayOfWeek, 1);  // a Monday

  SYSTEMTIME leap{2024, 2, 0, 29, 23, 59, 59, 999};
  ASSERT_TRUE(SystemTimeToFileTime(&leap, &ft));
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2024);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 4);  // Thursday
  EXPECT_EQ(back.wMilliseconds, 999);

  SYSTEMTIME noLeap{1900, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&noLeap, &ft));
  SYSTEMTIME last{30827, 12, 0, 31, 23, 59, 59, 999};
  EXPECT_TRUE(SystemTimeToFileTime(&last, &ft));
  SYSTEMTIME beyond{30828, 1, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&beyond, &ft));
}

TEST_F(KernelTest, FrozenClockAndBiasOverride) {
  ce::testing::freezeLocalTime(SYSTEMTIME{2010, 3, 0, 7, 18, 4, 5, 0});
  ce::testing::advanceLocalTime(61000);
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_EQ(now.wMinute, 5);
  EXPECT_EQ(now.wSecond, 6);
  EXPECT_EQ(now.wDayOfWeek, 0);  // 7 March 2010 was a Sunday
  ce::testing::setTimeZoneBias(-330);
  TIME_ZONE_INFORMATION tz;
  GetTimeZoneInformation(&tz);
  EXPECT_EQ(tz.Bias, -330);
}

TEST_F(KernelTest, NamedMutexExistsWhileAnyHandleIsOpen) {
  HANDLE first = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(CloseHandle(second));

  // Another process sees it too, and sees it free once closed.
  auto childSees = [] {
    pid_t pid = fork();
    if (pid == 0) {
      HANDLE h = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
      _exit(h && GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WEXITSTATUS(status) == 1;
  };
  EXPECT_TRUE(childSees());
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(childSees());
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A child forked without exec does not share its parent's hold on the name.
TEST_F(KernelTest, ForkedChildSeesItsParentsMutex) {
  HANDLE held = CreateMutexW(nullptr, TRUE, L"forked");
  ASSERT_EQ(GetLastError(), 0u);
  pid_t pid = fork();
  if (pid == 0) {
    HANDLE h = CreateMutexW(nullptr, TRUE, L"forked");
    bool exists = h && GetLastError() == ERROR_ALREADY_EXISTS;
    CloseHandle(h);
    _exit(exists ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  CloseHandle(held);
  // The child's close did not free the parent's name early: a fresh process now gets it.
  HANDLE again = CreateMutexW(nullptr, TRUE, L"forked");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(again);
}

TEST_F(KernelTest, CrashedHolderNeverLeavesTheNameStuck) {
  pid_t pid = fork();
  if (pid == 0) {
    CreateMutexW(nullptr, TRUE, L"crash");
    _exit(0);  // never closes its handle
  }
  int status = 0;
  waitpid(pid, &status, 0);
  HANDLE h = CreateMutexW(nullptr, TRUE, L"crash");
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
}

TEST_F(KernelTest, CodePageConversions) {
  // UTF-8, strict.
  wchar_t wide[16];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "caf\xc3\xa9", -1, wide, 16), 5);
  EXPECT_EQ(std::wstring(wide), L"caf\u00e9");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xc3", -1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);

  // Through iconv: cp1252's euro sign and koi8-r.
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "\x80", 1, wide, 16), 1);
  EXPECT_EQ(wide[0], L'\u20ac');
  char narrow[16];
  EXPECT_EQ(WideCharToMultiByte(20866, 0, L"\u0416", 1, narrow, 16, nullptr, nullptr), 1);
  EXPECT_EQ(static_cast<unsigned char>(narrow[0]), 0xF6);
  // Unrepresentable characters take the default replacement, not a failure.
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(1252, 0, L"a\u4e2db", 3, narrow, 16, nullptr, &usedDefault), 3);
  EXPECT_EQ(std::string(narrow, 3), "a?b");
  EXPECT_TRUE(usedDefault);
  // A code page iconv does not have.
  EXPECT_EQ(MultiByteToWideChar(57002, 0, "a", 1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(KernelTest, ThreadPriorityAndModule) {
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 9));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

}  // namespace
