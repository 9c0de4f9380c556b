#include "tests/support/device_test.h"

#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iterator>

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

int openHandles() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
}

}  // namespace ce::test
