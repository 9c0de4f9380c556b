// Fail points and reset hooks: the test seams shared by every platform family.
#include "platform/linux/kernel/platform_state.h"

#include <malloc.h>

#include <mutex>
#include <vector>

#include "platform/fail_point_table.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/testing.h"

namespace ce {

namespace {

using FailPoints = FailPointTable<std::mutex, std::lock_guard<std::mutex>>;

FailPoints& failPoints() {
  static FailPoints points;
  return points;
}

struct IdleTrims {
  std::mutex mutex;
  std::vector<IdleTrim> trims;
};

IdleTrims& idleTrims() {
  static IdleTrims registered;
  return registered;
}

std::vector<ResetHook>& resetHooks() {
  static std::vector<ResetHook> hooks;
  return hooks;
}

}  // namespace

bool failPointHit(const char* function, long long& result) {
  DWORD error = 0;
  if (!failPoints().hit(function, result, error)) return false;
  SetLastError(error);
  return true;
}

void addResetHook(ResetHook hook) { resetHooks().push_back(hook); }

void addIdleTrim(IdleTrim trim) {
  IdleTrims& registered = idleTrims();
  std::lock_guard<std::mutex> lock(registered.mutex);
  registered.trims.push_back(trim);
}

void trimIdleMemory() {
  std::vector<IdleTrim> trims;
  {
    IdleTrims& registered = idleTrims();
    std::lock_guard<std::mutex> lock(registered.mutex);
    trims = registered.trims;
  }
  for (IdleTrim trim : trims) trim();
  malloc_trim(0);
}

void resetKernelState() {
  kernel::resetNamedMutexes();
  kernel::resetDeviceHome();
  kernel::resetClock();
}

}  // namespace ce

namespace ce::testing {

void setFailPoint(const char* function, long long result, DWORD lastError, int times) {
  failPoints().arm(function, result, lastError, times);
}

void clearFailPoints() { failPoints().disarm(); }

void reset() {
  clearFailPoints();
  auto& hooks = resetHooks();
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
  ce::resetKernelState();
}

}  // namespace ce::testing
