// Calendar arithmetic on SYSTEMTIME through 100 ns ticks since 1601.
#include "clientlib/mainclient.h"

SYSTEMTIME DT_AddDiff(LONGLONG unit, LONGLONG count, const SYSTEMTIME* base) {
  SYSTEMTIME result{};
  FILETIME start;
  if (!base || !SystemTimeToFileTime(base, &start)) return result;
  long long ticks = static_cast<long long>(
      (static_cast<unsigned long long>(start.dwHighDateTime) << 32) | start.dwLowDateTime);
  long long delta;
  if (__builtin_mul_overflow(unit, count, &delta) ||
      __builtin_add_overflow(ticks, delta, &ticks) || ticks < 0)
    return result;
  FILETIME end;
  end.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks));
  end.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
  if (!FileTimeToSystemTime(&end, &result)) result = SYSTEMTIME{};
  return result;
}
