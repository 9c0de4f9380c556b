// tests/support/device_test.h on Windows: a fresh device home per test in the temporary
// folder, named by CE_DEVICE_HOME as on Linux, and the platform's state reset around it.
#include <windows.h>

#include <clocale>
#include <filesystem>

#include "platform/testing.h"
#include "tests/support/device_test.h"
#include "tests/windows/child_processes_windows.h"

namespace ce::test {

void DeviceTest::SetUp() {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  if (replayingForChild()) {
    // The parent's home, named in the environment the child inherited.
    wchar_t home[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"CE_DEVICE_HOME", home, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << "a child without its parent's home";
    home_ = std::filesystem::path(home).string();
    ce::testing::reset();
    return;
  }
  std::error_code error;
  std::filesystem::path base = std::filesystem::temp_directory_path(error);
  ASSERT_FALSE(error) << error.message();
  // Wine reuses process ids from run to run: the clock makes the name new as well.
  static int made = 0;
  std::filesystem::path home;
  do {
    home = base / ("cedevice-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(GetTickCount64()) + "-" + std::to_string(++made));
  } while (!std::filesystem::create_directory(home, error) && !error);
  ASSERT_FALSE(error) << error.message();
  home_ = home.string();
  ASSERT_TRUE(SetEnvironmentVariableW(L"CE_DEVICE_HOME", home.wstring().c_str()));
  ce::testing::reset();
}

void DeviceTest::TearDown() {
  ce::testing::reset();
  if (replayingForChild()) return;  // the parent's, still in use
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

std::string buildDir() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ".";
  std::filesystem::path path(self);
  for (auto p = path.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path())
    if (std::filesystem::exists(p / "CMakeCache.txt")) return p.string();
  return path.parent_path().string();
}

int openHandles() {
  DWORD count = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

}  // namespace ce::test
