// Each timer is a timerfd that the message loop polls as one of its message sources.
#include "platform/linux/user/timers.h"

#include <sys/timerfd.h>

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/user/message_sources.h"
#include "platform/linux/user/unique_fd.h"
#include "platform/linux/user/user.h"
#include "platform/linux/user/user_state.h"

namespace {

class Timer : public ce::MessageSource {
 public:
  Timer(HWND window, UINT_PTR id, ce::user::UniqueFd fd)
      : window_(window), id_(id), fd_(std::move(fd)) {}
  int descriptor() const override { return fd_.get(); }
  void drain() override {
    uint64_t expirations = 0;
    if (read(fd_.get(), &expirations, sizeof expirations) != sizeof expirations) return;
    if (expirations == 0) return;
    // The queue is not searched for an earlier WM_TIMER: the listener's loop takes each one
    // at once, and a timer posts at most one message per drain.
    PostMessageW(window_, WM_TIMER, static_cast<WPARAM>(id_), 0);
  }

 private:
  HWND window_;
  UINT_PTR id_;
  ce::user::UniqueFd fd_;
};

struct Timers {
  std::mutex mutex;
  std::map<std::pair<HWND, UINT_PTR>, std::unique_ptr<Timer>> running;
  UINT_PTR nextThreadTimerId = 1;
};

Timers& timers() {
  static Timers* all = new Timers;  // outlives any loop that still polls a timer at exit
  return *all;
}

void stopLocked(Timers& t, std::map<std::pair<HWND, UINT_PTR>, std::unique_ptr<Timer>>::iterator it) {
  ce::removeMessageSource(it->second.get());
  t.running.erase(it);
}

// A tick already waiting in the queue goes with its timer, as on the device: a caller that
// killed its timer never sees it again.
void dropQueuedTicks(HWND window, UINT_PTR id) {
  ce::user::State& s = ce::user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::erase_if(s.queue, [&](const MSG& m) {
    return m.message == WM_TIMER && m.hwnd == window && m.wParam == id;
  });
}

void resetTimers() {
  Timers& t = timers();
  std::lock_guard<std::mutex> lock(t.mutex);
  while (!t.running.empty()) stopLocked(t, t.running.begin());
  t.nextThreadTimerId = 1;
}

[[maybe_unused]] const bool resetTimersHooked = (ce::addResetHook(&resetTimers), true);

}  // namespace

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC procedure) {
  if (procedure) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  Timers& t = timers();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!window) {
    // A thread timer's id is always ours: the caller's is ignored, as on the device.
    id = t.nextThreadTimerId++;
  }
  ce::user::UniqueFd fd(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  if (!fd.valid()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  // An interval of 0 would disarm the timer: the device waits at least a few milliseconds.
  UINT ms = elapseMs < 10 ? 10 : elapseMs;
  itimerspec every{};
  every.it_interval.tv_sec = ms / 1000;
  every.it_interval.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  every.it_value = every.it_interval;
  if (timerfd_settime(fd.get(), 0, &every, nullptr) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto key = std::make_pair(window, id);
  if (auto it = t.running.find(key); it != t.running.end()) stopLocked(t, it);
  auto timer = std::make_unique<Timer>(window, id, std::move(fd));
  ce::addMessageSource(timer.get());
  t.running.emplace(key, std::move(timer));
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  if (window && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    Timers& t = timers();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.running.find(std::make_pair(window, id));
    if (it == t.running.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    stopLocked(t, it);
  }
  dropQueuedTicks(window, id);
  return TRUE;
}

namespace ce::user {

void stopTimersOfWindow(HWND window) {
  Timers& t = timers();
  std::lock_guard<std::mutex> lock(t.mutex);
  for (auto it = t.running.begin(); it != t.running.end();) {
    auto next = std::next(it);
    if (it->first.first == window) stopLocked(t, it);
    it = next;
  }
}

}  // namespace ce::user
