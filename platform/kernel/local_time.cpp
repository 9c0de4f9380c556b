// Local time, the time zone and the exact SYSTEMTIME <-> FILETIME calendar.
#include <time.h>

#include <chrono>
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

namespace chrono = std::chrono;

// Day 0 of FILETIME.
constexpr chrono::sys_days epoch1601 = chrono::year(1601) / chrono::January / 1;

// Bounds first: chrono::month and chrono::day hold any value above 255 as an unspecified one.
bool isRealDate(const SYSTEMTIME& t) {
  return t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 &&
         chrono::year_month_day(chrono::year(t.wYear), chrono::month(t.wMonth),
                                chrono::day(t.wDay))
      .ok();
}

long long toTicks(const SYSTEMTIME& t) {
  chrono::sys_days date =
      chrono::year(t.wYear) / chrono::month(t.wMonth) / chrono::day(t.wDay);
  long long days = (date - epoch1601).count();
  long long ms = ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
  return days * ticksPerDay + ms * ticksPerMillisecond;
}

SYSTEMTIME fromTicks(long long ticks) {
  chrono::sys_days date = epoch1601 + chrono::days(ticks / ticksPerDay);
  chrono::year_month_day civil(date);
  long long ms = (ticks % ticksPerDay) / ticksPerMillisecond;
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(static_cast<int>(civil.year()));
  t.wMonth = static_cast<WORD>(static_cast<unsigned>(civil.month()));
  t.wDay = static_cast<WORD>(static_cast<unsigned>(civil.day()));
  t.wDayOfWeek = static_cast<WORD>(chrono::weekday(date).c_encoding());
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
  if (!time || !fileTime || time->wYear < 1601 || time->wYear > 30827 || !isRealDate(*time) || time->wHour > 23 ||
      time->wMinute > 59 || time->wSecond > 59 || time->wMilliseconds > 999) {
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
