#include "tests/e2e/device_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "platform/process.h"

namespace ce::test {


void DeviceProcessTest::TearDown() {
  // Whatever the test left running goes down with it.
  cedevice({"shutdown"});
  for (int pid : listeners_) {
    ce::terminateProcess(pid);
    ce::waitChild(pid, 10000);
  }
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

int DeviceProcessTest::startListener() {
  ce::SpawnOptions options;
  options.argv = {buildDir() + "/apps/notlstnr/notlstnr"};
  options.outputPath = home() + "/notlstnr-test.out";
  options.environment.emplace_back("CE_DEVICE_HOME", home());
  std::string error;
  int pid = ce::spawnProcess(options, error);
  EXPECT_GT(pid, 0) << error;
  listeners_.push_back(pid);
  return pid;
}

std::string DeviceProcessTest::setting(const char* name) {
  DMTree* tree = createTree("Quillbex/SyncclientPIM");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
  char* value = node->readValue(name);
  std::string text = value;
  delete[] value;
  delete node;
  delete tree;
  return text;
}

void DeviceProcessTest::setSetting(const char* name, const std::string& value) {
  DMTree* tree = createTree("Quillbex/SyncclientPIM");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
  node->writeValue(name, value.c_str());
  delete node;
  delete tree;
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

bool DeviceProcessTest::waitForSetting(const char* name, const std::string& value) {
  return waitFor([&] { return setting(name) == value; }, std::chrono::milliseconds(patienceMs));
}

}  // namespace ce::test
