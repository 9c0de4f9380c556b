// The program's own state on Windows. The device tool that asks for it runs only on Linux, so
// the reporter is kept but never asked; the message loop's end is noted by CeGetMessageW.
#include "platform/process_state.h"

#include <atomic>
#include <utility>

#include "platform/win32/windows.h"
#include "platform/win32/device/exclusive.h"

#undef GetMessageW

namespace {

std::atomic<bool>& loopQuit() {
  static std::atomic<bool> quit{false};
  return quit;
}

struct Reporter {
  SRWLOCK lock = SRWLOCK_INIT;
  std::function<std::string()> report;
};

Reporter& reporter() {
  static Reporter instance;
  return instance;
}

}  // namespace

BOOL CeGetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  BOOL result = GetMessageW(message, window, filterMin, filterMax);
  if (result == 0) loopQuit().store(true);
  return result;
}

namespace ce {

void setStateReporter(std::function<std::string()> report) {
  ce::win32::Exclusive hold(reporter().lock);
  reporter().report = std::move(report);
}

std::optional<std::string> queryProcessState(int, int) { return std::nullopt; }

bool messageLoopQuit() { return loopQuit().load(); }

}  // namespace ce
