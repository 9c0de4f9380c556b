#include "platform/linux/notify/commit_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/notify.h"

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

void resetSignal() {
  receiver.store(nullptr);
  failing.store(false);
}

[[maybe_unused]] const bool resetSignalHooked = (ce::addResetHook(&resetSignal), true);

}  // namespace

void setWakeFailureReceiver(WakeFailureReceiver to) { receiver.store(to); }

void signalCommit(const wchar_t* app) noexcept {
  int saved = errno;
  std::string reason;
  try {
    std::string path = ce::systemDir() + "/" + commitMarkerName;
    // Closing a descriptor opened for writing is what the watcher sees (IN_CLOSE_WRITE); no
    // byte needs to be written, and none is, so the marker never grows.
    int fd = ce::kernel::openPrivate(path, O_WRONLY | O_CREAT);
    if (fd >= 0) {
      ::close(fd);
    } else {
      reason = std::string("cannot touch system/") + commitMarkerName + ": " +
               std::strerror(errno);
    }
  } catch (const std::exception& e) {
    reason = e.what();
  }
  try {
    if (reason.empty()) {
      failing.store(false);
    } else if (!failing.exchange(true)) {
      report(app ? app : L"", reason);
    }
  } catch (...) {
  }
  errno = saved;
}

}  // namespace ce::notify
