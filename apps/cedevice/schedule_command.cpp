// `cedevice schedule` lists the pending run-at-time requests; `cedevice scheduler` runs the
// scheduler in the foreground until SIGINT or SIGTERM.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/json_output.h"
#include "apps/cedevice/schedule_text.h"
#include "platform/linux/device.h"
#include "platform/notify.h"
#include "platform/linux/stores.h"

namespace schedule_command {
namespace {

// Set by the signal handler, which can reach nothing else.
std::atomic<bool> stopRequested{false};

void requestStop(int) {
  stopRequested = true;
  ce::notify::wakeScheduler();
}

void listSchedule(bool json) {
  std::vector<ce::notify::Request> requests;
  try {
    requests = ce::notify::pendingRequests();
  } catch (const ce::notify::StoreError& e) {
    throw cedevice::Failure(cedevice::storeFailure(ce::notifyStoreName, e.what()));
  }
  if (json) {
    cedevice::printJson(cedevice::scheduleJson(requests));
    return;
  }
  for (const auto& request : requests)
    std::printf("%s\n", cedevice::scheduleLine(request).c_str());
}

void runForeground() {
  // The loop must exist before the handlers can wake it; a signal before then is not lost,
  // because the loop looks at the flag before it first sleeps.
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  int result = ce::notify::runScheduler(stopRequested, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  if (result != 0) throw cedevice::Failure("the scheduler cannot watch the device", result);
}

void setup(CLI::App& app) {
  auto* schedule = cedevice::describe(
      app.add_subcommand("schedule", "List pending program starts, earliest first: "
                                     "'YYYY-MM-DD HH:MM:SS <program>'"),
      "The run-at-time requests programs made (CeRunAppAtTime), in device local time, with the\n"
      "device path of each program. A program has at most one pending request: a new one\n"
      "replaces it.");
  auto json = std::make_shared<bool>(false);
  schedule->add_flag("--json", *json,
                     "Print a JSON array of {\"due\": \"YYYY-MM-DD HH:MM:SS\", \"program\": PATH}");
  schedule->callback([json] { listSchedule(*json); });

  auto* scheduler = app.add_subcommand(
      "scheduler",
      "Run the scheduler in the foreground: start each requested program when its time comes "
      "(overdue ones at once), one line per start, until Ctrl-C or SIGTERM");
  scheduler->callback(runForeground);
}

cedevice::CommandGroup group(60, setup);

}  // namespace
}  // namespace schedule_command
