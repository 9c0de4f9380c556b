#include "tests/support/device_test.h"

#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/testing.h"

namespace ce::test {

void DeviceTest::SetUp() {
  // Every process of the device prints any character through %S/%ls.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  char pattern[] = "/tmp/cedevice-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  home_ = pattern;
  setenv("CE_DEVICE_HOME", home_.c_str(), 1);
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

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string buildDir() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  self[n] = 0;
  // Test binaries live in <build>/tests/<folder>/...: walk up to the build root.
  std::filesystem::path path(self);
  for (auto p = path.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path())
    if (std::filesystem::exists(p / "CMakeCache.txt")) return p.string();
  return path.parent_path().string();
}

}  // namespace ce::test
