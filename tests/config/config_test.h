// A fresh device with the log in \notlstnr.txt and helpers that look at the registry directly.
#pragma once

#include <gmock/gmock.h>

#include <memory>
#include <string>
#include <vector>

#include "config/device_management_node.h"
#include "config/dm_tree.h"
#include "log/log.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"
#include "tests/support/log_lines.h"

namespace ce::test {

class ConfigTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    Log* log = sharedLog();
    log->setDirectory("");
    log->setFileName("notlstnr.txt");
    log->setLevel(LogDebug);
    lastErrorCode = 0;
    lastErrorText = "";
  }

  std::vector<std::string> log() { return logEntries(home()); }

  static bool keyExists(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  static void createKey(const wchar_t* path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  static DWORD subkeyCount(const wchar_t* path) {
    HKEY key = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
  }
};

// Array-delete ownership of the texts the nodes return.
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
