// The listener process: the device starts it without arguments.
#include <clocale>
#include <cstdio>
#include <cstring>

#include "listener/startup.h"

namespace {

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
  if (argc > 1) {
    // The device never passes arguments; anything given is a person asking about the program.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      std::fputs(helpText, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
      std::printf("notlstnr %s\n", CE_VERSION);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "notlstnr: unexpected argument '%s': the listener takes no options\n"
                         "Run `notlstnr --help`, or start it with `cedevice boot`.\n", argv[1]);
    return 2;
  }
  // Every process of the device prints any character through %S.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  wchar_t commandLine[] = L"";
  return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 0);
}
