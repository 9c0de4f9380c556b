// `cedevice status`: the listener, the scheduler, the listener's windows and subscriptions, the
// recorded changes and the schedule, as text or JSON. Exits 3 when the device is not running,
// as service tools do, and 1 when a store of the device cannot be read.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_processes.h"
#include "apps/cedevice/json_output.h"
#include "apps/cedevice/schedule_text.h"
#include "apps/listener_state.h"
#include "platform/linux/device.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/process_state.h"
#include "platform/linux/stores.h"
#include "platform/linux/user/window_table.h"

namespace status_command {
namespace {

constexpr int notRunningExitCode = 3;
constexpr int unreadableExitCode = 1;
// The listener answers between two messages; one that is busy longer is reported as such.
constexpr int stateQueryTimeoutMs = 2000;

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

// What one part of the status holds, or why it cannot be read.
template <typename T>
struct Part {
  std::optional<T> value;
  std::string problem;  // set when unreadable
};

struct Status {
  std::string home;
  int listenerPid = 0;   // 0: not running
  bool listenerReachable = false;  // whether messages of other processes reach it
  int schedulerPid = 0;  // 0: not running
  std::vector<WindowInfo> windows;
  Part<std::vector<ce::pim::Subscription>> subscriptions;
  Part<std::string> list;  // "clientPushList" as stored; no value: not set
  Part<std::vector<ce::notify::Request>> requests;
  std::optional<std::vector<std::string>> suspended;  // nullopt: the listener did not say
  std::vector<std::string> problems;  // one line each, for standard error
};

// The sources the listener holds suspended, asked of the listener itself: they live in its
// memory only, and other programs than this tool may have sent the commands.
std::optional<std::vector<std::string>> suspendedSources(int listenerPid) {
  auto state = ce::queryProcessState(listenerPid, stateQueryTimeoutMs);
  auto flags = state ? apps::sourceFlagsOf(*state) : std::nullopt;
  if (!flags) return std::nullopt;
  std::vector<std::string> names;
  for (const DataSource& source : dataSources)
    if ((*flags)[static_cast<size_t>(source.flagPosition)] == '1') names.emplace_back(source.name);
  return names;
}

Status collect() {
  Status status;
  status.home = ce::deviceHome();
  HWND window = cedevice::findListenerWindow();
  status.listenerPid = window ? cedevice::ownerOf(window) : 0;
  status.listenerReachable = window && ce::processReachable(status.listenerPid);
  if (window)
    for (const auto& info : ce::listWindows())
      if (info.pid == status.listenerPid)
        status.windows.push_back({hwndText(info.hwnd), cedevice::narrow(info.className)});
  ce::Process scheduler = cedevice::findRecorded(cedevice::schedulerRole);
  status.schedulerPid = scheduler.valid() ? scheduler.id() : 0;

  std::vector<ce::pim::Subscription> subscriptions;
  if (ce::pim::Result listed = ce::pim::listSubscriptions(subscriptions))
    status.subscriptions.value = std::move(subscriptions);
  else
    status.subscriptions.problem = cedevice::storeFailure(ce::pimStoreName, listed.message);
  try {
    std::wstring list;
    status.list.value.reset();
    if (cedevice::readClientSetting(L"clientPushList", list))
      status.list.value = cedevice::narrow(list);
  } catch (const cedevice::Failure& e) {
    status.list.problem = e.what();
  }
  try {
    status.requests.value = ce::notify::pendingRequests();
  } catch (const std::exception& e) {
    status.requests.problem = cedevice::storeFailure(ce::notifyStoreName, e.what());
  }
  for (const std::string* problem :
       {&status.subscriptions.problem, &status.list.problem, &status.requests.problem})
    if (!problem->empty()) status.problems.push_back(*problem);
  if (window) status.suspended = suspendedSources(status.listenerPid);
  return status;
}

void printText(const Status& status) {
  std::printf("device home: %s\n", status.home.c_str());
  if (status.listenerPid)
    std::printf("listener: running (pid %d)%s\n", status.listenerPid,
                status.listenerReachable ? "" : ", unreachable");
  else
    std::printf("listener: not running\n");
  if (status.schedulerPid) std::printf("scheduler: running (pid %d)\n", status.schedulerPid);
  else std::printf("scheduler: not running\n");
  if (status.listenerPid) {
    std::printf("windows:\n");
    for (const auto& window : status.windows)
      std::printf("  %s %s\n", window.hwnd.c_str(), window.className.c_str());
  }
  if (status.subscriptions.value) {
    std::printf("PIM subscriptions:%s\n", status.subscriptions.value->empty() ? " none" : "");
    for (const auto& s : *status.subscriptions.value)
      std::printf("  %s (folder %d) -> window %s of pid %d, mode %u\n", folderName(s.folder),
                  s.folder, hwndText(s.window).c_str(), s.pid, s.mode);
  } else {
    std::printf("PIM subscriptions: unreadable (%s)\n", status.subscriptions.problem.c_str());
  }
  if (!status.list.problem.empty())
    std::printf("clientPushList: unreadable (%s)\n", status.list.problem.c_str());
  else if (status.list.value)
    std::printf("clientPushList: %s (%s)\n", status.list.value->c_str(),
                cedevice::describeList(std::atoi(status.list.value->c_str())).c_str());
  else
    std::printf("clientPushList: not set\n");
  if (!status.requests.value) {
    std::printf("pending requests: unreadable (%s)\n", status.requests.problem.c_str());
  } else {
    std::printf("pending requests:%s\n", status.requests.value->empty() ? " none" : "");
    for (const auto& request : *status.requests.value)
      std::printf("  %s\n", cedevice::scheduleLine(request).c_str());
  }
  if (status.listenerPid) {
    std::string suspended;
    for (const auto& name : status.suspended.value_or(std::vector<std::string>{}))
      suspended += (suspended.empty() ? "" : ",") + name;
    std::printf("suspended sources: %s\n",
                !status.suspended  ? "unknown (the listener did not answer)"
                : suspended.empty() ? "none"
                                    : suspended.c_str());
  }
}

void showJson(const Status& status) {
  nlohmann::json out;
  out["home"] = status.home;
  out["listener"] = {{"running", status.listenerPid != 0}};
  if (status.listenerPid) {
    out["listener"]["pid"] = status.listenerPid;
    out["listener"]["reachable"] = status.listenerReachable;
  }
  out["scheduler"] = {{"running", status.schedulerPid != 0}};
  if (status.schedulerPid) out["scheduler"]["pid"] = status.schedulerPid;
  out["windows"] = nlohmann::json::array();
  for (const auto& window : status.windows)
    out["windows"].push_back({{"hwnd", window.hwnd}, {"class", window.className}});
  if (status.subscriptions.value) {
    out["subscriptions"] = nlohmann::json::array();
    for (const auto& s : *status.subscriptions.value)
      out["subscriptions"].push_back({{"folder", folderName(s.folder)},
                                      {"folderId", s.folder},
                                      {"window", hwndText(s.window)},
                                      {"pid", s.pid},
                                      {"mode", s.mode}});
  } else {
    out["subscriptions"] = nullptr;
  }
  if (status.list.value) {
    int value = std::atoi(status.list.value->c_str());
    nlohmann::json sources = nlohmann::json::array();
    for (const DataSource& source : dataSources)
      if (value & source.bit) sources.push_back(source.name);
    out["clientPushList"] = {
        {"value", value}, {"stored", *status.list.value}, {"sources", sources}};
  } else {
    out["clientPushList"] = nullptr;
  }
  if (status.requests.value)
    out["pendingRequests"] = cedevice::scheduleJson(*status.requests.value);
  else
    out["pendingRequests"] = nullptr;
  // null: the listener runs and did not say; nothing is suspended in a listener that does not.
  if (status.suspended) out["suspendedSources"] = *status.suspended;
  else if (status.listenerPid) out["suspendedSources"] = nullptr;
  else out["suspendedSources"] = nlohmann::json::array();
  out["problems"] = status.problems;
  cedevice::printJson(out);
}

// The exit code, with one line on standard error for each reason it is not 0.
int conclude(const Status& status) {
  for (const std::string& problem : status.problems)
    std::fprintf(stderr, "cedevice: %s\n", problem.c_str());
  if (!status.problems.empty()) return unreadableExitCode;
  if (!status.listenerPid) return notRunningExitCode;
  if (!status.listenerReachable) {
    // Nothing the PIM store or another program says reaches it: changes go unrecorded.
    std::fprintf(stderr,
                 "cedevice: the listener (pid %d) cannot be reached: %s is missing, so no change "
                 "is recorded; `cedevice shutdown` stops it\n",
                 status.listenerPid,
                 cedevice::runFile("socket." + std::to_string(status.listenerPid)).c_str());
    return notRunningExitCode;
  }
  if (!status.schedulerPid) {
    // A listener whose scheduler has gone records changes that nothing will ever start.
    std::fprintf(stderr, "cedevice: the scheduler is not running, so no program starts (see %s)\n",
                 cedevice::runFile("boot.log").c_str());
    return notRunningExitCode;
  }
  return 0;
}

void setup(CLI::App& app) {
  auto* status = cedevice::describe(
      app.add_subcommand("status", "Show the listener, its subscriptions, the recorded changes "
                                   "and the schedule"),
      "Shows the listener's pid and windows, whether the scheduler runs, the listener's PIM\n"
      "subscriptions, \"clientPushList\" with the names of the sources whose bits are set, the\n"
      "pending program starts, and the sources the listener holds suspended (asked of the\n"
      "listener itself, whoever sent the commands).\n"
      "\n"
      "Exit status: 0 when the listener and the scheduler run, 3 when either does not or the\n"
      "listener cannot be reached (the rest is shown either way), 1 when the device cannot be\n"
      "read: a store that cannot be read is named on standard error, or the device home\n"
      "belongs to another user.");
  auto json = std::make_shared<bool>(false);
  status->add_flag("--json", *json, "Print one JSON object instead of text");
  status->callback([json] {
    Status current = collect();
    if (*json) showJson(current);
    else printText(current);
    cedevice::setExitCode(conclude(current));
  });
}

cedevice::CommandGroup group(11, setup);

}  // namespace
}  // namespace status_command
