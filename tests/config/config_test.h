// A fresh device with the log in \notlstnr.txt and the last store failure cleared.
#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "config/device_management_node.h"
#include "config/dm_tree.h"
#include "log/log.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/log_lines.h"

namespace ce::test {

class ConfigTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sharedLog()->setDirectory("");
    sharedLog()->setFileName("notlstnr.txt");
    sharedLog()->setLevel(LogDebug);
    lastErrorCode = 0;
    lastErrorText = "";
  }
  std::vector<std::string> log() { return logEntries(home()); }
};

// The texts the nodes return belong to the caller.
inline std::string take(char* text) {
  std::string copy = text ? text : "<null>";
  delete[] text;
  return copy;
}

inline std::wstring keyPathOf(const ManagementNode& node) {
  const wchar_t* path = static_cast<const DeviceManagementNode&>(node).getKeyPath();
  return path ? path : L"<null>";
}

}  // namespace ce::test
