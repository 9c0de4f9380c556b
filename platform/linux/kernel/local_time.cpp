// Local time, the testing overrides of clock and zone, and the exact SYSTEMTIME <-> FILETIME
// calendar.
#include <time.h>

#include <chrono>
#include <mutex>
#include <optional>

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
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

// The fields Windows takes: a year from 1601, a real month and time of day, and a day that
// exists in that month, except that February always has 29 days (the 29th of a common
// year is read as 1 March, as Windows reads it).
bool isTakenDate(const SYSTEMTIME& t) {
  static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return t.wYear >= 1601 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= monthDays[t.wMonth - 1] && t.wHour <= 23 && t.wMinute <= 59 &&
         t.wSecond <= 59 && t.wMilliseconds <= 999;
}

// Ticks of a taken date; false past the largest FILETIME (30828-09-14 02:48:05.477).
bool toTicks(const SYSTEMTIME& t, long long& ticks) {
  // A day past the month's end counts on into the next month (C++20 [time.cal.ymd]).
  chrono::sys_days date =
      chrono::year(t.wYear) / chrono::month(t.wMonth) / chrono::day(t.wDay);
  long long days = (date - epoch1601).count();
  long long ms = ((t.wHour * 60LL + t.wMinute) * 60 + t.wSecond) * 1000 + t.wMilliseconds;
  return !__builtin_mul_overflow(days, ticksPerDay, &ticks) &&
         !__builtin_add_overflow(ticks, ms * ticksPerMillisecond, &ticks);
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

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
  long long ticks = 0;
  if (!time || !fileTime || !isTakenDate(*time) || !toTicks(*time, ticks)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  fileTime->dwLowDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks));
  fileTime->dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
  if (!fileTime || !time) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  unsigned long long ticks =
      (static_cast<unsigned long long>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // Every time up to the largest positive FILETIME, 30828-09-14 02:48:05.477, as Windows.
  if (ticks > static_cast<unsigned long long>(INT64_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *time = fromTicks(static_cast<long long>(ticks));
  return TRUE;
}

namespace ce::testing {

void freezeLocalTime(const SYSTEMTIME& now) {
  long long ticks = 0;
  toTicks(now, ticks);
  std::lock_guard<std::mutex> lock(clockMutex);
  frozenTicks = ticks;
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
std::optional<LONG> timeZoneBiasOverride() {
  std::lock_guard<std::mutex> lock(clockMutex);
  return biasOverride;
}

void resetClock() {
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    frozenTicks.reset();
    biasOverride.reset();
  }
  resetTimeZone();
}
}  // namespace ce::kernel
