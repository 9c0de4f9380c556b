#include "platform/win32/device/fail_points.h"

#include <atomic>
#include <cstring>
#include <map>
#include <string>

#include "platform/win32/device/exclusive.h"

namespace ce::win32 {

namespace {

// The calls that check for a planted failure; a test planting one elsewhere would pass
// without its failure ever happening.
const char* const kHookedCalls[] = {"RegSetValueExW", "runInTransaction", "FindFirstFileW"};

struct Armed {
  long long result;
  DWORD lastError;
  int times;  // negative: every call
};

struct FailPoints {
  SRWLOCK lock = SRWLOCK_INIT;
  std::atomic<bool> any{false};
  std::map<std::string, Armed> armed;
};

FailPoints& failPoints() {
  static FailPoints instance;
  return instance;
}

}  // namespace

bool hasFailPoint(const char* function) {
  for (const char* hooked : kHookedCalls)
    if (std::strcmp(hooked, function) == 0) return true;
  return false;
}

void armFailPoint(const char* function, long long result, DWORD lastError, int times) {
  FailPoints& points = failPoints();
  Exclusive hold(points.lock);
  points.armed[function] = Armed{result, lastError, times == 0 ? -1 : times};
  points.any.store(true, std::memory_order_release);
}

void disarmFailPoints() {
  FailPoints& points = failPoints();
  Exclusive hold(points.lock);
  points.armed.clear();
  points.any.store(false, std::memory_order_release);
}

bool failPointHit(const char* function, long long& result) {
  FailPoints& points = failPoints();
  // Production never arms one: keep the common path free of locks.
  if (!points.any.load(std::memory_order_acquire)) return false;
  Exclusive hold(points.lock);
  auto it = points.armed.find(function);
  if (it == points.armed.end()) return false;
  result = it->second.result;
  DWORD error = it->second.lastError;
  if (it->second.times > 0 && --it->second.times == 0) points.armed.erase(it);
  SetLastError(error);
  return true;
}

}  // namespace ce::win32
