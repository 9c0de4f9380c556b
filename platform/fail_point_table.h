// The failures a test plants, by the name of the call they take: the one table both platform
// sides keep behind platform/testing.h. Each side brings its own lock: the Windows side builds
// with mingw-w64's win32 thread model, which has no std::mutex. Platform-internal.
#pragma once

#include <atomic>
#include <map>
#include <string>

#include "platform/windows.h"

namespace ce {

// `Hold` holds a `Lock` exclusively for its scope.
template <class Lock, class Hold>
class FailPointTable {
 public:
  // The next `times` calls of `function` (every one when `times` is 0 or negative) fail with
  // `result` and `lastError`.
  void arm(const char* function, long long result, DWORD lastError, int times) {
    Hold hold(lock_);
    armed_[function] = Armed{result, lastError, times == 0 ? -1 : times};
    any_.store(true, std::memory_order_release);
  }

  void disarm() {
    Hold hold(lock_);
    armed_.clear();
    any_.store(false, std::memory_order_release);
  }

  // True when a planted failure takes this call of `function`, one use of it spent: the call
  // then returns `result` with `lastError` set.
  bool hit(const char* function, long long& result, DWORD& lastError) {
    // Production never arms one: the common path takes no lock.
    if (!any_.load(std::memory_order_acquire)) return false;
    Hold hold(lock_);
    auto it = armed_.find(function);
    if (it == armed_.end()) return false;
    result = it->second.result;
    lastError = it->second.lastError;
    if (it->second.times > 0 && --it->second.times == 0) armed_.erase(it);
    return true;
  }

 private:
  struct Armed {
    long long result;
    DWORD lastError;
    int times;  // negative: every call
  };

  Lock lock_{};
  std::atomic<bool> any_{false};
  std::map<std::string, Armed> armed_;
};

}  // namespace ce
