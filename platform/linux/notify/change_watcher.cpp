// Sleeping until the run-at-time table changes: inotify on system/, plus an eventfd that
// wakeScheduler() writes and the pidfds of running programs, all in one poll.
//
// The watch is on the folder, not the file: the marker may not exist yet. What counts is the
// marker that writers touch after their commit, notify.db itself being replaced or removed,
// and a write to notify.db-wal, which comes before its commit is visible: the loop waits for
// that writer before it reads (a marker that cannot be touched must not leave a request
// waiting). notify.db-shm is touched by readers too, so it is no reason to look.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/notify.h"
#include "platform/linux/notify/commit_signal.h"
#include "platform/linux/notify/change_watcher.h"
#include "platform/linux/notify/programs.h"

namespace ce::notify {

namespace {

// Lives as long as the process: a signal handler may write to it at any moment, so it is
// never closed under it.
std::atomic<int> wakeFd{-1};

int wakeDescriptor() {
  static std::once_flag created;
  std::call_once(created, [] {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    wakeFd.store(fd);
  });
  return wakeFd.load();
}

void drain(int fd) {
  uint64_t count;
  while (read(fd, &count, sizeof count) > 0) {
  }
}

// What an event asks of the loop, least first: a log write asks for the wait for its writer
// as well as the look, so it wins over a commit seen in the same read.
enum class StoreEvent { none, changed, logWritten };

StoreEvent storeEventOf(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) return StoreEvent::logWritten;  // any of them may be lost
  if (event.len == 0) return StoreEvent::none;
  std::string_view name(event.name);
  if (name == commitMarkerName) return StoreEvent::changed;
  if (name == "notify.db" && (event.mask & (IN_MOVED_TO | IN_DELETE))) return StoreEvent::changed;
  if (name == "notify.db-wal" && (event.mask & IN_MODIFY)) return StoreEvent::logWritten;
  return StoreEvent::none;
}

// Reads every queued event; the most any of them asks of the loop.
StoreEvent readStoreEvents(int inotifyFd) {
  alignas(inotify_event) char buffer[4096];
  StoreEvent strongest = StoreEvent::none;
  for (;;) {
    ssize_t length = read(inotifyFd, buffer, sizeof buffer);
    if (length <= 0) return strongest;
    for (char* p = buffer; p < buffer + length;) {
      auto* event = reinterpret_cast<inotify_event*>(p);
      strongest = std::max(strongest, storeEventOf(*event));
      p += sizeof(inotify_event) + event->len;
    }
  }
}

void resetWake() {
  int fd = wakeFd.load();
  if (fd >= 0) drain(fd);
}

[[maybe_unused]] const bool resetWakeHooked = (ce::addResetHook(&resetWake), true);

}  // namespace

void wakeScheduler() noexcept {
  int saved = errno;
  int fd = wakeFd.load();
  uint64_t one = 1;
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
  errno = saved;
}

ChangeWatcher::ChangeWatcher() {
  wakeDescriptor();
  std::string folder = ce::systemDir();
  inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd_ < 0) throw std::runtime_error(std::string("inotify: ") + std::strerror(errno));
  if (inotify_add_watch(inotifyFd_, folder.c_str(),
                        IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MODIFY) < 0) {
    int error = errno;
    ::close(inotifyFd_);
    inotifyFd_ = -1;
    throw std::runtime_error("cannot watch " + folder + ": " + std::strerror(error));
  }
}

ChangeWatcher::~ChangeWatcher() {
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
}

ChangeWatcher::ChangeWatcher(ChangeWatcher&& other) noexcept
    : inotifyFd_(std::exchange(other.inotifyFd_, -1)) {}

ChangeWatcher& ChangeWatcher::operator=(ChangeWatcher&& other) noexcept {
  if (this != &other) {
    if (inotifyFd_ >= 0) ::close(inotifyFd_);
    inotifyFd_ = std::exchange(other.inotifyFd_, -1);
  }
  return *this;
}

ChangeWatcher::Wake ChangeWatcher::wait(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int remaining = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      remaining = left > 0 ? static_cast<int>(left) : 0;
    }
    std::vector<pollfd> fds{{inotifyFd_, POLLIN, 0}, {wakeFd.load(), POLLIN, 0}};
    for (int fd : programEndDescriptors()) fds.push_back({fd, POLLIN, 0});
    int ready = poll(fds.data(), fds.size(), remaining);
    if (ready < 0) {
      if (errno == EINTR) return Wake::woken;  // a signal: let the loop look at its stop flag
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    if (ready == 0) return Wake::timeout;
    if (fds[1].revents) {
      drain(fds[1].fd);
      return Wake::woken;
    }
    bool programEnded = false;
    for (size_t i = 2; i < fds.size(); ++i) programEnded |= fds[i].revents != 0;
    if (programEnded) reapPrograms();
    if (fds[0].revents) {
      StoreEvent event = readStoreEvents(inotifyFd_);
      if (event == StoreEvent::changed) return Wake::changed;
      if (event == StoreEvent::logWritten) return Wake::logWritten;
    }
  }
}

}  // namespace ce::notify
