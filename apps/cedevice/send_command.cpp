// `cedevice send`: the control messages other processes send to the listener.
#include <cstdio>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/usage_errors.h"

namespace send_command {
namespace {

struct Options {
  std::string source;
  std::string folder;
};

HWND listenerWindowOrFail(const wchar_t* className = L"ClientPushWindow") {
  HWND window = FindWindowW(className, nullptr);
  if (!window)
    throw cedevice::Failure("no listener is running on this device (no " +
                            cedevice::narrow(className) + " window); start it with cedevice boot");
  return window;
}

void post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (PostMessageW(window, message, wParam, lParam)) return;
  DWORD error = GetLastError();
  if (error == ERROR_PIPE_NOT_CONNECTED)
    throw cedevice::Failure(
        "the listener cannot be reached: " +
        cedevice::runFile("socket." + std::to_string(cedevice::ownerOf(window))) +
        " is missing; the message was not delivered (`cedevice shutdown` still stops it)");
  throw cedevice::Failure("the listener did not take the message (error " +
                          std::to_string(error) + ")");
}

void sendFlag(const std::string& name, bool suspend) {
  unsigned flag = allSourcesFlagNumber;
  if (name != "all") flag = cedevice::sourceNamed(name)->flagNumber;
  HWND window = listenerWindowOrFail();
  post(window, WM_COMMAND, flag, suspend ? 1 : 0);
  std::printf("%s %s\n", suspend ? "suspended" : "resumed", name.c_str());
}

void setup(CLI::App& app) {
  auto* send = cedevice::describe(
      app.add_subcommand("send", "Send a control message to the running listener"),
      "The messages other processes send to the listener's window \"ClientPushWindow\":\n"
      "\n"
      "  send suspend SOURCE    WM_COMMAND, the source's flag number, lParam 1\n"
      "  send resume SOURCE     WM_COMMAND, the source's flag number, lParam 0\n"
      "  send resume all        WM_COMMAND, 100, lParam 0\n"
      "  send close             WM_CLOSE\n"
      "  send refresh FOLDER    WM_COMMAND to that folder's window: it looks its folder up again\n"
      "\n"
      "SOURCE is contacts, calendar, tasks, notes, briefcase or pictures. A suspended source's\n"
      "changes are not recorded until it is resumed. With no listener running the command\n"
      "exits 1. The listener keeps its flags in memory only; `status` asks it which sources\n"
      "it holds suspended.");
  send->require_subcommand(1);
  auto options = std::make_shared<Options>();
  auto names = cedevice::sourceNames();
  auto withAll = names;
  withAll.push_back("all");

  auto* suspend = send->add_subcommand("suspend", "Stop recording one source's changes");
  suspend->add_option("SOURCE", options->source, "contacts, calendar, tasks, notes, briefcase or pictures")
      ->required()
      ->check(cedevice::oneOf(names));
  suspend->callback([options] { sendFlag(options->source, true); });

  auto* resume = send->add_subcommand("resume", "Record one source's changes again (or all)");
  resume->add_option("SOURCE", options->source, "a source name, or all")
      ->required()
      ->check(cedevice::oneOf(withAll));
  resume->callback([options] { sendFlag(options->source, false); });

  auto* close = send->add_subcommand("close", "Close the listener");
  close->callback([] {
    post(listenerWindowOrFail(), WM_CLOSE, 0, 0);
    std::printf("close sent\n");
  });

  auto* refresh = send->add_subcommand("refresh", "Make a folder window look its folder up again");
  refresh->add_option("FOLDER", options->folder, "briefcase, notes or pictures")
      ->required()
      ->check(cedevice::oneOf({"briefcase", "notes", "pictures"}));
  refresh->callback([options] {
    const wchar_t* className = options->folder == "briefcase" ? L"ClientPushWindowBriefcase"
                               : options->folder == "notes"   ? L"ClientPushWindowNotes"
                                                              : L"ClientPushWindowPicture";
    post(listenerWindowOrFail(className), WM_COMMAND, 0, 0);
    std::printf("refresh sent to %s\n", options->folder.c_str());
  });
}

cedevice::CommandGroup group(40, setup);

}  // namespace
}  // namespace send_command
