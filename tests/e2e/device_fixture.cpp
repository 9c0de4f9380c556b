#include "tests/e2e/device_fixture.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/process.h"

namespace ce::test {

void DeviceProcessTest::TearDown() {
  // Whatever the test left running goes down with it.
  cedevice({"shutdown"});
  for (ce::Process& process : processes_) {
    process.terminate();
    process.waitForEnd(10000);
  }
  unsetenv("CE_REGISTRY_BUSY_TIMEOUT_MS");  // a test's own setting ends with it
  DeviceTest::TearDown();
}

void DeviceProcessTest::bootDevice(
    const std::vector<std::pair<const char*, const char*>>& settings) {
  auto init = cedevice({"init"});
  ASSERT_EQ(init.exitCode, 0) << init.err;
  for (const auto& [name, value] : settings) setSetting(name, value);
  auto boot = cedevice({"boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.out << boot.err;
}

std::string DeviceProcessTest::pimAdd(const std::string& kind, const std::string& subject) {
  auto added = cedevice({"pim", "add", kind, subject});
  EXPECT_EQ(added.exitCode, 0) << added.err;
  return added.exitCode == 0 ? added.out.substr(0, added.out.find('\n')) : "";
}

ce::Process& DeviceProcessTest::spawn(
    const std::vector<std::string>& argv, const std::string& outputPath,
    const std::vector<std::pair<std::string, std::string>>& environment) {
  ce::SpawnOptions options;
  options.argv = argv;
  options.outputPath = outputPath;
  options.environment = environment;
  options.environment.emplace_back("CE_DEVICE_HOME", home());
  std::string error;
  processes_.push_back(ce::Process::start(options, error));
  EXPECT_TRUE(processes_.back().valid()) << argv[0] << ": " << error;
  return processes_.back();
}

ce::Process& DeviceProcessTest::startListener() {
  return spawn({buildDir() + "/apps/notlstnr/notlstnr"}, home() + "/notlstnr-test.out");
}

int DeviceProcessTest::exitCodeOf(ce::Process& child, int timeoutMs) {
  return child.waitForEnd(timeoutMs) ? child.exitCode() : -1;
}

bool DeviceProcessTest::waitForLog(const std::string& message, int count) {
  return waitUntil([&] {
    auto entries = log();
    return std::count_if(entries.begin(), entries.end(), [&](const std::string& entry) {
             auto text = entry.find("] - ");
             return text != std::string::npos && entry.substr(text + 4) == message;
           }) >= count;
  });
}

void DeviceProcessTest::waitUntilHandled() {
  for (int i = 0; i < 2; ++i)
    writeFile(fsPath("My Documents/Notes/handled-" + std::to_string(++handledNotes_) + ".pwi"),
              "x");
  ASSERT_TRUE(waitForLog("CP note: It is a new item inserted", handledNotes_));
}

std::vector<std::string> DeviceProcessTest::launcherRuns() {
  std::vector<std::string> lines;
  std::istringstream text(readFile(fsPath("startsync.txt")));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

bool DeviceProcessTest::waitForLauncherRuns(size_t count) {
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
  return waitUntil([&] { return launcherRuns().size() >= count && !launcherRunning(); });
}

int DeviceProcessTest::recordedPid(const char* record) {
  std::istringstream in(readFile(hostPath(std::string("run/") + record)));
  int pid = 0;
  in >> pid;
  return pid;
}

bool signalProcess(int pid, int signalNumber) { return pid > 0 && kill(pid, signalNumber) == 0; }

bool running(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

}  // namespace ce::test
