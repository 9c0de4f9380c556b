// The listener process: the device starts it without arguments.
#include <cstdio>

#include "apps/listener_state.h"
#include "apps/no_options.h"
#include "listener/startup.h"
#include "platform/notify.h"
#include "platform/process_state.h"
#include "platform/windows.h"
#include "recording/change_recording.h"
#include "recording/client_push.h"

namespace {

// The named mutex that the running listener of a device holds.
const wchar_t* const listenerInstanceName = L"ClientPushListener";

const char* const helpText =
    "Usage: notlstnr\n"
    "\n"
    "The client push listener: it waits for changes to contacts, calendar, tasks and the\n"
    "Briefcase, Notes and Pictures folders of the device in $CE_DEVICE_HOME (else ./device),\n"
    "records which sources changed in \"clientPushList\" and schedules the client's launcher.\n"
    "It takes no options: `cedevice boot` prepares the device and runs it, together with the\n"
    "scheduler that starts the launcher. See cedevice(1).\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (auto exitCode = apps::answerArguments(
          argc, argv, "notlstnr", helpText,
          ": the listener takes no options\nRun `notlstnr --help`, or start it with `cedevice boot`."))
    return *exitCode;
  // Unlike the device's tools, the listener sets no locale: its log prints %S as UTF-8 by
  // itself, and names are folded through a locale made only for a name beyond ASCII, so an
  // idle listener does not hold the locale's tables.
  // One listener per device: a second would subscribe every source again and record each
  // change twice. Held until the process ends, which lets go of it however it ends. Where
  // the mutex cannot be made at all (no device), the start below says why.
  HANDLE instance = CreateMutexW(nullptr, TRUE, listenerInstanceName);
  if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(instance);
    std::fprintf(stderr, "notlstnr: a listener is already running on this device; "
                         "this one ends without starting\n");
    return 1;
  }
  // Asked from outside (cedevice status), the listener tells which sources it holds
  // suspended, read between two messages: nothing is written when they change.
  ce::setStateReporter(
      [] { return apps::listenerStateText(ClientPush::getInstance()->sourceFlags); });
  // The platform's word on a start it could not announce belongs in the listener's log.
  ce::notify::setWakeFailureReceiver(&reportSchedulerNotWoken);
  wchar_t commandLine[] = L"";
  int result = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 0);
  if (instance) CloseHandle(instance);
  // The listener ends with 0 whether it served or gave up while starting; whoever started it
  // must be able to tell the two apart. Only a loop that ended on its quit message served.
  if (result == 0 && !ce::messageLoopQuit()) {
    std::fprintf(stderr,
                 "notlstnr: the listener stopped while starting, before it took any message\n");
    return 1;
  }
  return result;
}
