// logdemo: writes one line of each kind to the listener's log, configured as the listener
// configures it, and says where the file is on this machine.
#include <clocale>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "encoding/conversions.h"
#include "log/log.h"
#include "log/win_log.h"
#include "platform/device.h"
#include "platform/windows.h"

int main() {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  try {
    ce::deviceHome();  // fails loudly here rather than as dropped log lines
  } catch (const std::exception& e) {
    std::fprintf(stderr, "logdemo: %s\n", e.what());
    return 1;
  }

  Log* log = sharedLog();
  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  log->setLevel(LogDebug);

  log->error("logdemo: an error line");
  log->info("logdemo: an info line, %S", L"wide text \u00e9\u00e8");
  log->debugAtInfo("logdemo: a debug line written from level %d", LogInfo);
  log->debug("logdemo: a debug line written from level %d", LogDebug);

  std::unique_ptr<wchar_t[]> devicePath(toWideChar(winLog::currentPath()));
  std::string hostPath;
  if (!devicePath || !ce::hostPathOf(devicePath.get(), hostPath)) {
    std::fprintf(stderr, "logdemo: cannot map %s to this machine\n", winLog::currentPath());
    return 1;
  }
  std::printf("%s\n", hostPath.c_str());
  return 0;
}
