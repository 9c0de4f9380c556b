// Calendar arithmetic on SYSTEMTIME through 100 ns ticks since 1601.
#include "clientlib/mainclient.h"

namespace {

// Real dates only: the platform, as Windows, also takes 29 February of a common year.
bool isRealDay(const SYSTEMTIME& t) {
  bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
  return !(t.wMonth == 2 && t.wDay == 29 && !leap);
}

// The last year the library's calendar has; Windows' FILETIME reaches into 30828.
constexpr WORD lastYear = 30827;

}  // namespace

SYSTEMTIME DT_AddDiff(LONGLONG unit, LONGLONG count, const SYSTEMTIME* base) {
  SYSTEMTIME result{};
  FILETIME start;
  if (!base || !isRealDay(*base) || base->wYear > lastYear ||
      !SystemTimeToFileTime(base, &start))
    return result;
  long long ticks = static_cast<long long>(
      (static_cast<unsigned long long>(start.dwHighDateTime) << 32) | start.dwLowDateTime);
  long long delta;
  if (__builtin_mul_overflow(unit, count, &delta) ||
      __builtin_add_overflow(ticks, delta, &ticks) || ticks < 0)
    return result;
  FILETIME end;
  end.dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks));
  end.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
  if (!FileTimeToSystemTime(&end, &result) || result.wYear > lastYear) result = SYSTEMTIME{};
  return result;
}
