// Short forms of the registry calls the tests repeat.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

namespace ce::test {

// A key below HKEY_LOCAL_MACHINE, created when missing; null when that failed.
HKEY createKey(const wchar_t* path, DWORD* disposition = nullptr);
LONG openKey(const wchar_t* path, HKEY& key);
bool keyExists(const wchar_t* path);

LONG setString(HKEY key, const wchar_t* name, const std::wstring& text);
// The value as text ("" with `rc` set when it cannot be read).
std::wstring getString(HKEY key, const wchar_t* name, LONG* rc = nullptr);
// Subkey names in enumeration order.
std::wstring subkeysOf(HKEY key);

// Runs `cedevice reg ...`; the tool works only on a home that already holds a device.
class RegToolTest : public DeviceTest {
 protected:
  using Run = ToolRun;
  void SetUp() override {
    DeviceTest::SetUp();
    ce::deviceHome();
  }
  ToolRun reg(std::vector<std::string> args, const std::string& otherHome = "") {
    args.insert(args.begin(), "reg");
    return runCedevice(otherHome.empty() ? home() : otherHome, args);
  }
  // An empty second device below this test's home.
  std::string otherDevice() {
    std::string other = home() + "/other-device";
    std::filesystem::create_directories(other + "/fs");
    std::filesystem::create_directories(other + "/system");
    return other;
  }
};

}  // namespace ce::test
