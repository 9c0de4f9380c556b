// Local time, the time zone and the exact SYSTEMTIME <-> FILETIME calendar.
#include <time.h>

#include <mutex>
#include <optional>

#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_state.h"
#include "platform/testing.h"

namespace {

constexpr long long ticksPerMillisecond = 10000;
constexpr long long ticksPerDay = 864000000000LL;

std::mutex clockMutex;
std::optional<long long> frozenTicks;   // FILETIME ticks of the frozen local clock
std::optional<LONG> biasOverride;

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const long long epoch1601 = daysFromCivil(1601, 1, 1);

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(unsigned y, unsigned m) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

long long toTicks(const SYSTEMTIME& t) {
  long long days = daysFromCivil(t.wYear, t.wMonth, t.wDay) - epoch1601;
  long long ms = ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
  return days * ticksPerDay + ms * ticksPerMillisecond;
}

SYSTEMTIME fromTicks(long long ticks) {
  long long days = ticks / ticksPerDay;
  long long ms = (ticks % ticksPerDay) / ticksPerMillisecond;
  long long y;
  unsigned m, d;
  civilFromDays(days + epoch1601, y, m, d);
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(y);
  t.wMonth = static_cast<WORD>(m);
  t.wDay = static_cast<WORD>(d);
  t.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1 January 1601 was a Monday
  t.wHour = static_cast<WORD>(ms / 3600000);
  t.wMinute = static_cast<WORD>(ms / 60000 % 60);
  t.wSecond = static_cast<WORD>(ms / 1000 % 60);
  t.wMilliseconds = static_cast<WORD>(ms % 1000);
  return t;
}

}  // namespace

void GetLocalTime(LPSYSTEMTIME time) {
  if (!time) return;
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    if (frozenTicks) {
      *time = fromTicks(*frozenTicks);
      return;
    }
  }
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<WORD>(local.tm_year + 1900);
  time->wMonth = static_cast<WORD>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
  time->wDay = static_cast<WORD>(local.tm_mday);
  time->wHour = static_cast<WORD>(local.tm_hour);
  time->wMinute = static_cast<WORD>(local.tm_min);
  time->wSecond = static_cast<WORD>(local.tm_sec == 60 ? 59 : local.tm_sec);
  time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  *info = TIME_ZONE_INFORMATION{};
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    if (biasOverride) {
      info->Bias = *biasOverride;
      return TIME_ZONE_ID_UNKNOWN;
    }
  }
  static std::once_flag zoneRead;
  std::call_once(zoneRead, [] { tzset(); });
  // glibc's `timezone` is seconds west of UTC: the sign the device's Bias uses.
  info->Bias = static_cast<LONG>(timezone / 60);
  return TIME_ZONE_ID_UNKNOWN;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
  if (!time || !fileTime || time->wYear < 1601 || time->wYear > 30827 || time->wMonth < 1 ||
      time->wMonth > 12 || time->wDay < 1 || time->wDay > daysInMonth(time->wYear, time->wMonth) ||
      time->wHour > 23 || time->wMinute > 59 || time->wSecond > 59 ||
      time->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto ticks = static_cast<unsigned long long>(toTicks(*time));
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
  if (!fileTime || !time) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  unsigned long long ticks =
      (static_cast<unsigned long long>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // The device refuses times past 30827-12-31 23:59:59.999 (the top bit set and beyond).
  const long long last = toTicks(SYSTEMTIME{30827, 12, 0, 31, 23, 59, 59, 999});
  if (ticks > static_cast<unsigned long long>(last) + ticksPerMillisecond - 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *time = fromTicks(static_cast<long long>(ticks));
  return TRUE;
}

namespace ce::testing {

void freezeLocalTime(const SYSTEMTIME& now) {
  std::lock_guard<std::mutex> lock(clockMutex);
  frozenTicks = toTicks(now);
}

void advanceLocalTime(long long milliseconds) {
  std::lock_guard<std::mutex> lock(clockMutex);
  if (frozenTicks) *frozenTicks += milliseconds * ticksPerMillisecond;
}

void thawLocalTime() {
  std::lock_guard<std::mutex> lock(clockMutex);
  frozenTicks.reset();
}

void setTimeZoneBias(LONG biasMinutes) {
  std::lock_guard<std::mutex> lock(clockMutex);
  biasOverride = biasMinutes;
}

void clearTimeZoneBias() {
  std::lock_guard<std::mutex> lock(clockMutex);
  biasOverride.reset();
}

}  // namespace ce::testing

namespace ce::kernel {
void resetClock() {
  std::lock_guard<std::mutex> lock(clockMutex);
  frozenTicks.reset();
  biasOverride.reset();
}
}  // namespace ce::kernel
