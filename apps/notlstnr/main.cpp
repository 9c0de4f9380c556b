// The listener process: the device starts it without arguments.
#include <clocale>

#include "apps/no_options.h"
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
  if (auto exitCode = apps::answerArguments(
          argc, argv, "notlstnr", helpText,
          ": the listener takes no options\nRun `notlstnr --help`, or start it with `cedevice boot`."))
    return *exitCode;
  // Every process of the device prints any character through %S.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  wchar_t commandLine[] = L"";
  return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 0);
}
