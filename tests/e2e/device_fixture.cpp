#include "tests/e2e/device_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"

namespace ce::test {

void DeviceProcessTest::TearDown() {
  // Whatever the test left running goes down with it.
  cedevice({"shutdown"});
  for (ce::Process& listener : listeners_) {
    listener.terminate();
    listener.waitForEnd(10000);
  }
  unsetenv("CE_REGISTRY_BUSY_TIMEOUT_MS");  // a test's own setting ends with it
  DeviceTest::TearDown();
}

ToolResult DeviceProcessTest::cedevice(const std::vector<std::string>& args) {
  return runCedevice(home(), args);
}

void DeviceProcessTest::bootDevice() {
  auto init = cedevice({"init"});
  ASSERT_EQ(init.exitCode, 0) << init.err;
  auto boot = cedevice({"boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.out << boot.err;
}

ce::Process& DeviceProcessTest::startListener() {
  ce::SpawnOptions options;
  options.argv = {buildDir() + "/apps/notlstnr/notlstnr"};
  options.outputPath = home() + "/notlstnr-test.out";
  options.environment.emplace_back("CE_DEVICE_HOME", home());
  std::string error;
  listeners_.push_back(ce::Process::start(options, error));
  EXPECT_TRUE(listeners_.back().valid()) << error;
  return listeners_.back();
}

int DeviceProcessTest::exitCodeOf(ce::Process& child, int timeoutMs) {
  return child.waitForEnd(timeoutMs) ? child.exitCode() : -1;
}

bool DeviceProcessTest::waitForLog(const std::string& message, int count) {
  return waitFor(
      [&] {
        auto entries = log();
        return std::count_if(entries.begin(), entries.end(), [&](const std::string& entry) {
                 auto text = entry.find("] - ");
                 return text != std::string::npos && entry.substr(text + 4) == message;
               }) >= count;
      },
      std::chrono::milliseconds(patienceMs));
}

std::vector<std::string> DeviceProcessTest::launcherRuns() {
  std::vector<std::string> lines;
  std::istringstream text(ce::test::readFile(fsPath("startsync.txt")));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

bool DeviceProcessTest::waitForLauncherRuns(size_t count, int timeoutMs) {
  // A run that has written its line may still be clearing its bits; the next change must not
  // meet it, so the wait also covers the process ending.
  const std::string launcher = fsPath("Program Files/Quillbex/startsync.exe");
  auto launcherRunning = [&] {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      std::error_code ignored;
      if (std::filesystem::read_symlink(entry.path() / "exe", ignored) == launcher) return true;
    }
    return false;
  };
  return waitFor([&] { return launcherRuns().size() >= count && !launcherRunning(); },
                 std::chrono::milliseconds(timeoutMs));
}

int DeviceProcessTest::recordedPid(const char* record) {
  std::istringstream in(readFile(hostPath(std::string("run/") + record)));
  int pid = 0;
  in >> pid;
  return pid;
}

bool running(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

bool DeviceProcessTest::waitForSetting(const char* name, const std::string& value) {
  return waitFor([&] { return setting(name) == value; }, std::chrono::milliseconds(patienceMs));
}

}  // namespace ce::test
