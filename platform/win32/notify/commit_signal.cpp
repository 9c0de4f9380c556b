#include "platform/win32/notify/commit_signal.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/notify.h"
#include "platform/win32/notify/request_store.h"

namespace ce::notify {

namespace {

std::atomic<WakeFailureReceiver> receiver{nullptr};
// Whether the last signal of this process failed: a streak is reported once.
std::atomic<bool> failing{false};

void report(const wchar_t* app, const std::string& reason) {
  if (WakeFailureReceiver to = receiver.load()) {
    to(app, reason.c_str());
    return;
  }
  std::fprintf(stderr, "notify: the scheduler could not be woken for %ls: %s\n", app,
               reason.c_str());
  std::fflush(stderr);
}

}  // namespace

void setWakeFailureReceiver(WakeFailureReceiver to) { receiver.store(to); }

void signalCommit(const wchar_t* app) noexcept {
  DWORD saved = GetLastError();
  std::string reason;
  std::wstring name;
  if (DWORD error = store::changeEventName(name); error != ERROR_SUCCESS) {
    reason = "cannot name the change event of notify.db: error " + std::to_string(error);
  } else if (HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name.c_str())) {
    if (!SetEvent(event))
      reason = "cannot set the change event of notify.db: error " + std::to_string(GetLastError());
    CloseHandle(event);
  } else {
    reason = "cannot open the change event of notify.db: error " + std::to_string(GetLastError());
  }
  try {
    if (reason.empty()) {
      failing.store(false);
    } else if (!failing.exchange(true)) {
      report(app ? app : L"", reason);
    }
  } catch (...) {
  }
  SetLastError(saved);
}

}  // namespace ce::notify
