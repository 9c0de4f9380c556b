// Fail points and reset hooks: the test seams shared by every platform family.
#include "platform/linux/kernel/platform_state.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/testing.h"

namespace ce {

namespace {

struct FailPoint {
  long long result;
  DWORD lastError;
  int times;  // negative: every call
};

struct FailPoints {
  std::mutex mutex;
  std::map<std::string, FailPoint> armed;
  std::atomic<bool> any{false};
};

FailPoints& failPoints() {
  static FailPoints points;
  return points;
}

std::vector<ResetHook>& resetHooks() {
  static std::vector<ResetHook> hooks;
  return hooks;
}

}  // namespace

bool failPointHit(const char* function, long long& result) {
  FailPoints& points = failPoints();
  // Production never arms one: keep the common path free of locks.
  if (!points.any.load(std::memory_order_acquire)) return false;
  std::lock_guard<std::mutex> lock(points.mutex);
  auto it = points.armed.find(function);
  if (it == points.armed.end()) return false;
  result = it->second.result;
  DWORD error = it->second.lastError;
  if (it->second.times > 0 && --it->second.times == 0) points.armed.erase(it);
  SetLastError(error);
  return true;
}

void addResetHook(ResetHook hook) { resetHooks().push_back(hook); }

void resetKernelState() {
  kernel::resetNamedMutexes();
  kernel::resetDeviceHome();
  kernel::resetClock();
}

}  // namespace ce

namespace ce::testing {

void setFailPoint(const char* function, long long result, DWORD lastError, int times) {
  FailPoints& points = failPoints();
  std::lock_guard<std::mutex> lock(points.mutex);
  points.armed[function] = FailPoint{result, lastError, times == 0 ? -1 : times};
  points.any.store(true, std::memory_order_release);
}

void clearFailPoints() {
  FailPoints& points = failPoints();
  std::lock_guard<std::mutex> lock(points.mutex);
  points.armed.clear();
  points.any.store(false, std::memory_order_release);
}

void reset() {
  clearFailPoints();
  auto& hooks = resetHooks();
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
  ce::resetKernelState();
}

}  // namespace ce::testing
