// `cedevice status`: the listener, its windows and subscriptions, the recorded changes and the
// schedule, as text or JSON. Exits 3 when the listener is not running, as service tools do.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/cedevice/command.h"
#include "apps/cedevice/control_flags.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/json_output.h"
#include "apps/cedevice/schedule_text.h"
#include "platform/device.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/user/window_table.h"

namespace {

constexpr int notRunningExitCode = 3;

std::string hwndText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
  return text;
}

const char* folderName(int folder) {
  return folder == 10 ? "contacts" : folder == 9 ? "calendar" : folder == 13 ? "tasks" : "?";
}

struct WindowInfo {
  std::string hwnd;
  std::string className;
};

struct Status {
  std::string home;
  int listenerPid = 0;  // 0: not running
  std::vector<WindowInfo> windows;
  bool subscriptionsReadable = false;
  std::vector<ce::pim::Subscription> subscriptions;
  std::optional<std::string> list;  // "clientPushList" as stored
  std::vector<ce::notify::Request> requests;
  std::string requestsError;
  std::vector<std::string> suspended;
};

Status collect() {
  Status status;
  status.home = ce::deviceHome();
  HWND window = cedevice::findListenerWindow();
  status.listenerPid = window ? cedevice::ownerOf(window) : 0;
  if (window)
    for (const auto& info : ce::listWindows())
      if (info.pid == status.listenerPid)
        status.windows.push_back({hwndText(info.hwnd), cedevice::narrow(info.className)});
  status.subscriptionsReadable = static_cast<bool>(ce::pim::listSubscriptions(status.subscriptions));
  std::wstring list;
  if (cedevice::readClientSetting(L"clientPushList", list)) status.list = cedevice::narrow(list);
  try {
    status.requests = ce::notify::pendingRequests();
  } catch (const std::exception& e) {
    status.requestsError = e.what();
  }
  if (window) {
    std::string flags = cedevice::knownFlags(status.listenerPid);
    for (const DataSource& source : dataSources)
      if (flags[static_cast<size_t>(source.flagPosition)] == '1')
        status.suspended.emplace_back(source.name);
  }
  return status;
}

void printText(const Status& status) {
  std::printf("device home: %s\n", status.home.c_str());
  if (status.listenerPid) std::printf("listener: running (pid %d)\n", status.listenerPid);
  else std::printf("listener: not running\n");
  if (status.listenerPid) {
    std::printf("windows:\n");
    for (const auto& window : status.windows)
      std::printf("  %s %s\n", window.hwnd.c_str(), window.className.c_str());
  }
  if (status.subscriptionsReadable) {
    std::printf("PIM subscriptions:%s\n", status.subscriptions.empty() ? " none" : "");
    for (const auto& s : status.subscriptions)
      std::printf("  %s (folder %d) -> window %s of pid %d, mode %u\n", folderName(s.folder),
                  s.folder, hwndText(s.window).c_str(), s.pid, s.mode);
  } else {
    std::printf("PIM subscriptions: unreadable store\n");
  }
  if (status.list)
    std::printf("clientPushList: %s (%s)\n", status.list->c_str(),
                cedevice::describeList(std::atoi(status.list->c_str())).c_str());
  else
    std::printf("clientPushList: not set\n");
  if (!status.requestsError.empty()) {
    std::printf("pending requests: %s\n", status.requestsError.c_str());
  } else {
    std::printf("pending requests:%s\n", status.requests.empty() ? " none" : "");
    for (const auto& request : status.requests)
      std::printf("  %s\n", cedevice::scheduleLine(request).c_str());
  }
  if (status.listenerPid) {
    std::string suspended;
    for (const auto& name : status.suspended) suspended += (suspended.empty() ? "" : ",") + name;
    std::printf("suspended sources (sent with cedevice send): %s\n",
                suspended.empty() ? "none" : suspended.c_str());
  }
}

void showJson(const Status& status) {
  nlohmann::json out;
  out["home"] = status.home;
  out["listener"] = {{"running", status.listenerPid != 0}};
  if (status.listenerPid) out["listener"]["pid"] = status.listenerPid;
  out["windows"] = nlohmann::json::array();
  for (const auto& window : status.windows)
    out["windows"].push_back({{"hwnd", window.hwnd}, {"class", window.className}});
  if (status.subscriptionsReadable) {
    out["subscriptions"] = nlohmann::json::array();
    for (const auto& s : status.subscriptions)
      out["subscriptions"].push_back({{"folder", folderName(s.folder)},
                                      {"folderId", s.folder},
                                      {"window", hwndText(s.window)},
                                      {"pid", s.pid},
                                      {"mode", s.mode}});
  } else {
    out["subscriptions"] = nullptr;
  }
  if (status.list) {
    int value = std::atoi(status.list->c_str());
    nlohmann::json sources = nlohmann::json::array();
    for (const DataSource& source : dataSources)
      if (value & source.bit) sources.push_back(source.name);
    out["clientPushList"] = {{"value", value}, {"stored", *status.list}, {"sources", sources}};
  } else {
    out["clientPushList"] = nullptr;
  }
  if (status.requestsError.empty()) out["pendingRequests"] = cedevice::scheduleJson(status.requests);
  else out["pendingRequests"] = nullptr;
  out["suspendedSources"] = status.suspended;
  cedevice::printJson(out);
}

void setup(CLI::App& app) {
  auto* status = cedevice::describe(
      app.add_subcommand("status", "Show the listener, its subscriptions, the recorded changes "
                                   "and the schedule"),
      "Shows the listener's pid and windows, its PIM subscriptions, \"clientPushList\" with the\n"
      "names of the sources whose bits are set, the pending program starts, and the sources\n"
      "suspended through `cedevice send` (the listener keeps those flags in memory only).\n"
      "\n"
      "Exit status: 0 when the listener runs, 3 when it does not (the rest is shown either\n"
      "way), 1 when the device cannot be read.");
  auto json = std::make_shared<bool>(false);
  status->add_flag("--json", *json, "Print one JSON object instead of text");
  status->callback([json] {
    Status current = collect();
    if (*json) showJson(current);
    else printText(current);
    if (!current.listenerPid) cedevice::setExitCode(notRunningExitCode);
  });
}

cedevice::CommandGroup group(11, setup);

}  // namespace
