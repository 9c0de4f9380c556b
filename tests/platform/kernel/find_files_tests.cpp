#include <sys/stat.h>

#include "platform/device.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using FindFilesTest = ce::test::DeviceTest;

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
