#include "apps/cedevice/device_processes.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/failure.h"
#include "platform/linux/device.h"
#include "platform/linux/stores.h"
#include "platform/linux/user/window_table.h"
#include "platform/pimstore.h"
#include "platform/windows.h"

namespace cedevice {

const char* const bootRole = "boot";
const char* const schedulerRole = "scheduler";
const char* const listenerRole = "listener";

namespace {

std::string recordPath(const char* role) { return runFile(std::string(role) + ".pid"); }

}  // namespace

void recordProcess(const char* role, const ce::ProcessIdentity& identity) {
  std::string error;
  if (!ce::writePrivateFile(recordPath(role), identity.text() + "\n", error))
    throw Failure("cannot record the " + std::string(role) + ": " + error);
}

void forgetProcess(const char* role) { std::remove(recordPath(role).c_str()); }

ce::Process findRecorded(const char* role) {
  // A record of another format, or of a process that has ended, names nobody.
  auto identity = ce::ProcessIdentity::parse(readText(recordPath(role)));
  return identity ? ce::Process::find(*identity) : ce::Process();
}

bool stopProcess(ce::Process& process, int graceMs) {
  if (process.terminate() && process.waitForEnd(graceMs)) return true;
  process.kill();
  return process.waitForEnd(graceMs);
}

void endLeftovers() {
  for (const char* role : {schedulerRole, listenerRole}) {
    ce::Process leftover = findRecorded(role);
    if (leftover.valid()) {
      std::fprintf(stderr, "cedevice: ending the %s (pid %d) that an earlier boot left running\n",
                   role, leftover.id());
      if (!stopProcess(leftover, 5000))
        std::fprintf(stderr, "cedevice: the %s (pid %d) does not end\n", role, leftover.id());
    }
    forgetProcess(role);
  }
}

void removeWhatDeadProcessesLeft() {
  ce::removeLeftoversOfDeadProcesses();
  std::vector<ce::pim::Subscription> ended;
  if (!ce::pim::endSubscriptionsOfGoneWindows(ended))
    std::fprintf(stderr, "cedevice: %s\n",
                 storeFailure(ce::pimStoreName, "the PIM store's subscriptions are unreadable")
                     .c_str());
}

std::string whyListenerCannotServe(int listenerPid) {
  std::string who = "the listener (pid " + std::to_string(listenerPid) + ")";
  HWND window = findListenerWindow();
  if (!window || ownerOf(window) != listenerPid) {
    std::string socket = runFile("socket." + std::to_string(listenerPid));
    std::error_code error;
    bool blocked = std::filesystem::exists(std::filesystem::symlink_status(socket, error)) &&
                   !std::filesystem::is_socket(std::filesystem::symlink_status(socket, error));
    return who + " cannot receive messages: it has no ClientPushWindow window" +
           (blocked ? " (" + socket + " is in the way and is not a socket)" : "");
  }
  // A datagram reaches its socket, or the post fails.
  if (!PostMessageW(window, WM_NULL, 0, 0))
    return who + " cannot receive messages: a message to its window fails (error " +
           std::to_string(GetLastError()) + ")";
  std::vector<ce::pim::Subscription> subscriptions;
  if (!ce::pim::listSubscriptions(subscriptions))
    return who + " cannot be checked: the PIM store's subscriptions are unreadable";
  std::set<int> folders;
  for (const auto& subscription : subscriptions)
    if (subscription.window == window) folders.insert(subscription.folder);
  std::string missing;
  for (auto [folder, name] : {std::pair{10, "contacts"}, {9, "calendar"}, {13, "tasks"}})
    if (!folders.count(folder)) missing.append(missing.empty() ? "" : ",").append(name);
  if (!missing.empty()) return who + " has no PIM subscription for " + missing;
  return "";
}

}  // namespace cedevice
