// The parts of tests/support/device_test.h that are the same on Linux and on Windows.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/device_test.h"

namespace ce::test {

namespace {

// The suite's paths are UTF-8; a narrow path on Windows is read in the ANSI code page, where
// most of a name beyond ASCII is lost.
std::filesystem::path utf8Path(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

}  // namespace

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
  std::ifstream in(utf8Path(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(utf8Path(path), std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace ce::test
