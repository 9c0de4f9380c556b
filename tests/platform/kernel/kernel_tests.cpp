#include <cstdio>
#include <cstring>
#include <string>

#include "platform/device.h"
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
}

TEST_F(KernelTest, FileTimeCalendarIsExactAtTheEdges) {
  FILETIME ft;
  SYSTEMTIME back;
  SYSTEMTIME first{1601, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SystemTimeToFileTime(&first, &ft));
  EXPECT_EQ(ft.dwLowDateTime | ft.dwHighDateTime, 0u);
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wDayOfWeek, 1);  // a Monday

  SYSTEMTIME leap{2024, 2, 0, 29, 23, 59, 59, 999};
  ASSERT_TRUE(SystemTimeToFileTime(&leap, &ft));
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  leap.wDayOfWeek = 4;  // a Thursday
  EXPECT_EQ(std::memcmp(&back, &leap, sizeof leap), 0);

  for (SYSTEMTIME bad :
       {SYSTEMTIME{1900, 2, 0, 29, 0, 0, 0, 0}, SYSTEMTIME{30828, 1, 0, 1, 0, 0, 0, 0}})
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft)) << bad.wYear;
  SYSTEMTIME last{30827, 12, 0, 31, 23, 59, 59, 999};
  EXPECT_TRUE(SystemTimeToFileTime(&last, &ft));
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

}  // namespace
