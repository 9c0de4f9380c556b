#include <sys/stat.h>

#include <map>
#include <string>

#include "platform/device.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using FindFilesTest = ce::test::DeviceTest;

struct Entry {
  unsigned long long size;
  DWORD attributes;
  DWORD oid;
  bool operator==(const Entry&) const = default;
};

// The listing of a pattern by name; the handle's own errors end the test.
std::map<std::wstring, Entry> listing(const wchar_t* pattern) {
  std::map<std::wstring, Entry> entries;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    entries[data.cFileName] = Entry{(static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                        data.nFileSizeLow,
                                    data.dwFileAttributes, data.dwOID};
  } while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(find));
  return entries;
}

DWORD inodeOf(const std::string& path) {
  struct stat info;
  stat(path.c_str(), &info);
  return static_cast<DWORD>(info.st_ino);
}

TEST_F(FindFilesTest, ListsEveryEntryOnceWithItsSizeKindAndIdentity) {
  ce::fsRoot();
  mkdir(hostPath("fs/box").c_str(), 0755);
  mkdir(hostPath("fs/box/sub").c_str(), 0755);
  ce::test::writeFile(hostPath("fs/box/a.txt"), "12345");
  ce::test::writeFile(hostPath("fs/box/caf\xe9.pwi"), "");
  std::map<std::wstring, Entry> expected{
      {L"a.txt", {5, FILE_ATTRIBUTE_NORMAL, inodeOf(hostPath("fs/box/a.txt"))}},
      {ce::widenFileName("caf\xe9.pwi"),
       {0, FILE_ATTRIBUTE_NORMAL, inodeOf(hostPath("fs/box/caf\xe9.pwi"))}},
      {L"sub", {4096, FILE_ATTRIBUTE_DIRECTORY, inodeOf(hostPath("fs/box/sub"))}},
  };
  std::map<std::wstring, Entry> found = listing(L"\\box\\*");
  // A folder's own size depends on the file system.
  found[L"sub"].size = 4096;
  EXPECT_EQ(found, expected);
  EXPECT_EQ(listing(L"\\box\\*.*").size(), 3u);
}

// Missing and empty folders must not look alike: one is a change the other is not.
TEST_F(FindFilesTest, MissingEmptyAndUnsupportedPatternsFailApart) {
  ce::fsRoot();
  mkdir(hostPath("fs/empty").c_str(), 0755);
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(L"\\empty\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileW(L"\\missing\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  for (const wchar_t* pattern : {L"\\empty\\*.txt", L"\\empty", L"\\e*\\*", L"\\..\\*"}) {
    EXPECT_EQ(FindFirstFileW(pattern, &data), INVALID_HANDLE_VALUE) << pattern;
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << pattern;
  }
}

}  // namespace
