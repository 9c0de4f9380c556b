#include "platform/win32/device/fail_points.h"

#include <cstring>

#include "platform/fail_point_table.h"
#include "platform/win32/device/exclusive.h"

namespace ce::win32 {

namespace {

// The calls that check for a planted failure; a test planting one elsewhere would pass
// without its failure ever happening.
const char* const kHookedCalls[] = {"RegSetValueExW", "runInTransaction", "FindFirstFileW"};

using Table = ce::FailPointTable<SRWLOCK, Exclusive>;

Table& failPoints() {
  static Table table;
  return table;
}

}  // namespace

bool hasFailPoint(const char* function) {
  for (const char* hooked : kHookedCalls)
    if (std::strcmp(hooked, function) == 0) return true;
  return false;
}

void armFailPoint(const char* function, long long result, DWORD lastError, int times) {
  failPoints().arm(function, result, lastError, times);
}

void disarmFailPoints() { failPoints().disarm(); }

bool failPointHit(const char* function, long long& result) {
  DWORD error = 0;
  if (!failPoints().hit(function, result, error)) return false;
  SetLastError(error);
  return true;
}

}  // namespace ce::win32
