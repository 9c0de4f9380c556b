// cescheduler: the device's scheduler on Windows, the process that starts the programs of due
// run-at-time requests. On Linux the device tool runs the same loop (cedevice boot); on
// Windows there is no device tool, so the scheduler is a program of its own, started beside
// the listener and ended with Ctrl-C or Ctrl-Break.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/notify.h"

namespace {

std::atomic<bool> stopRequested{false};

BOOL WINAPI onConsoleControl(DWORD) {
  stopRequested.store(true);
  ce::notify::wakeScheduler();
  return TRUE;
}

const char* const helpText =
    "Usage: cescheduler\n"
    "\n"
    "The device's scheduler: starts each program for which CeRunAppAtTime asked, when its\n"
    "local time comes, and at once every request that fell due while it was not running.\n"
    "Requests live in %CE_DEVICE_HOME%\\system\\notify.db (else\n"
    "%LOCALAPPDATA%\\CeDevice\\system). Prints one line per start; Ctrl-C ends it.\n"
    "\n"
    "  -h, --help     print this help and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      std::fputs(helpText, stdout);
      return 0;
    }
    std::fprintf(stderr, "cescheduler: takes no arguments (see cescheduler --help)\n");
    return 2;
  }
  SetConsoleCtrlHandler(&onConsoleControl, TRUE);
  return ce::notify::runScheduler(stopRequested, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
}
