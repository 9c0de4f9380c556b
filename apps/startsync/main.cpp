// The client's launcher, as far as this device goes: it "synchronises" the sources whose
// changes were recorded by naming them in \startsync.txt. It takes their bits before it
// syncs, so a change recorded meanwhile is there for the next run, and puts them back when the
// sync fails.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "apps/no_options.h"
#include "clientlib/mainclient.h"
#include "recording/data_sources.h"
#include "textcore/log.h"
#include "platform/windows.h"

namespace {

const char* const helpText =
    "Usage: startsync\n"
    "\n"
    "The synchronisation client's launcher on the emulated device: it takes the bits of the\n"
    "sources whose changes are recorded in \"clientPushList\", names those sources in\n"
    "\\startsync.txt, and puts the bits back when it cannot (a run killed meanwhile leaves\n"
    "them in \"clientPushTaken\" for the next run). The device's scheduler starts\n"
    "it when the listener's request falls due; `cedevice init` copies it into the device as\n"
    "\\Program Files\\Quillbex\\startsync.exe. See cedevice(1).\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Environment: STARTSYNC_HOLD_UNTIL=PATH makes it wait, once it has taken the sources' bits\n"
    "and before it syncs, until the host file PATH exists (at most 60 s). Tests use it to\n"
    "make a change while a sync runs.\n";

// Every bit a source owns: the bits of no source stay for whoever set them.
int allSourceBits() {
  int bits = 0;
  for (const DataSource& source : dataSources) bits |= source.bit;
  return bits;
}

// The test hook of the help text: a held run says so on standard error, where a test sees
// it, and goes on when the file appears or the minute is up.
void holdWhileAsked() {
  const char* path = std::getenv("STARTSYNC_HOLD_UNTIL");
  if (!path || !*path) return;
  std::fprintf(stderr, "startsync: holding until %s exists\n", path);
  std::fflush(stderr);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::error_code error;
  while (!std::filesystem::exists(path, error) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A failed sync leaves its sources recorded; where even that fails, the error says so.
void putBack(int taken) {
  if (int result = restorePIMModifications(taken))
    std::fprintf(stderr, "startsync: cannot put back the unsynchronised sources (error %d)\n",
                 result);
}

}  // namespace

int main(int argc, char** argv) {
  if (auto exitCode =
          apps::answerArguments(argc, argv, "startsync", helpText, " (see startsync --help)"))
    return *exitCode;
  std::setlocale(LC_CTYPE, "C.UTF-8");
  int taken = 0;
  if (int result = takePIMModifications(allSourceBits(), &taken)) {
    std::fprintf(stderr, "startsync: cannot read the recorded sources (error %d)\n", result);
    return 1;
  }
  holdWhileAsked();
  std::string names;
  for (const DataSource& source : dataSources) {
    if (!(taken & source.bit)) continue;
    if (!names.empty()) names += ',';
    names += source.name;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Binary: its lines end in "\n" on every platform, as the device's log does.
  FILE* out = _wfopen(L"\\startsync.txt", L"ab");
  if (!out) {
    DWORD error = GetLastError();
    putBack(taken);
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
    putBack(taken);
    return 1;
  }
  // Synced; a failure here only means that the next run syncs these sources again.
  if (int result = finishPIMModifications())
    std::fprintf(stderr, "startsync: cannot end the sync (error %d); its sources are synced "
                         "again next time\n", result);
  return 0;
}
