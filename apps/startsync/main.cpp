// The client's launcher, as far as this device goes: it "synchronises" the sources whose
// changes were recorded by naming them in \startsync.txt, then clears exactly their bits.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/no_options.h"
#include "clientlib/mainclient.h"
#include "recording/data_sources.h"
#include "textcore/log.h"
#include "platform/windows.h"

namespace {

const char* const helpText =
    "Usage: startsync\n"
    "\n"
    "The synchronisation client's launcher on the emulated device: it names the sources whose\n"
    "changes are recorded in \"clientPushList\" in \\startsync.txt and clears their bits. The\n"
    "device's scheduler starts it when the listener's request falls due; `cedevice init`\n"
    "copies it into the device as \\Program Files\\Quillbex\\startsync.exe. See cedevice(1).\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  if (auto exitCode =
          apps::answerArguments(argc, argv, "startsync", helpText, " (see startsync --help)"))
    return *exitCode;
  std::setlocale(LC_CTYPE, "C.UTF-8");
  int list = getPIMModifications();
  int synchronised = 0;
  std::string names;
  for (const DataSource& source : dataSources) {
    if (!(list & source.bit)) continue;
    synchronised |= source.bit;
    if (!names.empty()) names += ',';
    names += source.name;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Binary: its lines end in "\n" on every platform, as the device's log does.
  FILE* out = _wfopen(L"\\startsync.txt", L"ab");
  if (!out) {
    DWORD error = GetLastError();
    std::fprintf(stderr, "startsync: cannot open \\startsync.txt (error %lu)\n",
                 static_cast<unsigned long>(error));
    // Where the device's log is still written, the refusal shows there too: a link planted
    // in place of the record (error 5) is never written through.
    Log* log = sharedLog();
    log->setDirectory("");
    log->setFileName("notlstnr.txt");
    log->error("startsync: cannot open \\startsync.txt (error %lu); nothing synchronised",
               static_cast<unsigned long>(error));
    return 1;
  }
  std::fprintf(out, "%04d-%02d-%02d %02d:%02d:%02d sync %s\n", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond, names.empty() ? "none" : names.c_str());
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "startsync: cannot write \\startsync.txt\n");
    return 1;
  }
  // Only what was named above is cleared: a bit recorded meanwhile waits for the next run.
  int result = resetPIMModifications(synchronised);
  if (result != 0) {
    std::fprintf(stderr, "startsync: cannot clear the synchronised sources (error %d)\n", result);
    return 1;
  }
  return 0;
}
