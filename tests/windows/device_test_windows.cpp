// tests/support/device_test.h on Windows: a fresh device home per test in the temporary
// folder, named by CE_DEVICE_HOME as on Linux, and the platform's state reset around it.
#include <windows.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/testing.h"
#include "tests/support/device_test.h"

namespace ce::test {

void DeviceTest::SetUp() {
  std::setlocale(LC_CTYPE, "C.UTF-8");
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
  std::error_code ignored;
  std::filesystem::remove_all(home_, ignored);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  auto pause = std::chrono::microseconds(100);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(20)) pause *= 2;
  }
  return true;
}

bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds deadline) {
  return waitFor([&] { return readFile(path).find(text) != std::string::npos; }, deadline);
}

// The suite's paths are UTF-8; a narrow path on Windows is read in the ANSI code page, where
// most of a name beyond ASCII is lost.
static std::filesystem::path utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(utf8Path(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(utf8Path(path), std::ios::binary | std::ios::trunc);
  out << content;
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

}  // namespace ce::test
