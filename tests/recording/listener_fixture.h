// A listener state on a fresh device: configuration open, log at debug level in
// \notlstnr.txt, clock frozen, bias 0, the three watched folders in place.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "recording/client_push.h"
#include "textcore/log.h"
#include "platform/notify.h"
#include "platform/testing.h"
#include "tests/support/device_test.h"
#include "tests/support/log_lines.h"

namespace ce::test {

class ListenerTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    Log* log = sharedLog();
    log->setDirectory("");
    log->setFileName("notlstnr.txt");
    log->setLevel(LogDebug);
    ce::testing::setTimeZoneBias(0);
    at(2026, 3, 10, 10, 0);
    clientPush = ClientPush::getInstance();
    clientPush->dmt = createTree("Quillbex/SyncclientPIM");
    clientPush->node = clientPush->dmt->readManagementNode("Quillbex/SyncclientPIM");
    clientPush->launcherPath = L"\\Program Files\\Quillbex\\startsync.exe";
    clientPush->pushInterval = 1;
    for (auto& flag : clientPush->sourceFlags) flag = 0;
    for (const char* folder : {"Briefcase", "Notes", "My Pictures"})
      std::filesystem::create_directories(hostPath(std::string("fs/My Documents/") + folder));
  }

  void at(int year, int month, int day, int hour, int minute) {
    ce::testing::freezeLocalTime(SYSTEMTIME{static_cast<WORD>(year), static_cast<WORD>(month), 0,
                                            static_cast<WORD>(day), static_cast<WORD>(hour),
                                            static_cast<WORD>(minute), 0, 0});
  }

  std::string list() {
    return std::unique_ptr<char[]>(clientPush->node->readValue("clientPushList")).get();
  }
  void setValue(const char* name, const char* value) { clientPush->node->writeValue(name, value); }

  // Pending requests as "YYYY-MM-DD HH:MM <path>".
  std::vector<std::string> requests() {
    std::vector<std::string> out;
    for (const auto& request : ce::notify::pendingRequests()) {
      char when[32];
      std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d ", request.due.wYear,
                    request.due.wMonth, request.due.wDay, request.due.wHour, request.due.wMinute);
      std::string path;
      for (wchar_t c : request.app) path += static_cast<char>(c);
      out.push_back(when + path);
    }
    return out;
  }
  // The launcher's start alone, due at `when` ("YYYY-MM-DD HH:MM"), as requests() shows it.
  static std::vector<std::string> launcherOnlyAt(const std::string& when) {
    return {when + " \\Program Files\\Quillbex\\startsync.exe"};
  }

  std::vector<std::string> log() { return logEntries(home()); }

  ClientPush* clientPush = nullptr;
};

}  // namespace ce::test
