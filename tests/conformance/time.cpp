// Time and time zones: the calendar conversions the client library's date arithmetic and
// cedevice use, and the zone the log's stamp and any converting caller read. Both sides run
// in the same zone (run_conformance.py --tz, Europe/Berlin by default) at the same moment.
#include <cstring>
#include <string>

#include "conformance.h"

using conformance::answer;
using conformance::answerCode;
using conformance::answerText;
using conformance::text;

namespace {

std::string show(const SYSTEMTIME& t) {
  char line[96];
  std::snprintf(line, sizeof line, "%u-%u-%u %u:%u:%u.%u dow=%u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return line;
}

// a zone name up to its terminator, which must come within the field's 32 characters
std::string zoneName(const WCHAR* field) {
  long length = 0;
  while (length < 32 && field[length]) ++length;
  return length == 32 ? "(unterminated)" : text(field, length);
}

unsigned long long ticksOf(const FILETIME& f) {
  return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

SYSTEMTIME at(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0,
              WORD ms = 0, WORD dayOfWeek = 0) {
  return SYSTEMTIME{year, month, dayOfWeek, day, hour, minute, second, ms};
}

void toFileTime(const char* check, const SYSTEMTIME& time) {
  FILETIME out{conformance::kSentinel, conformance::kSentinel};
  SetLastError(conformance::kSentinel);
  BOOL ok = SystemTimeToFileTime(&time, &out);
  if (ok)
    answer(check, "TRUE %llu", ticksOf(out));
  else
    answer(check, "FALSE err=%lu out=%llx", static_cast<unsigned long>(GetLastError()),
           ticksOf(out));
}

void toSystemTime(const char* check, unsigned long long ticks) {
  FILETIME in{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME out;
  SetLastError(conformance::kSentinel);
  if (FileTimeToSystemTime(&in, &out))
    answer(check, "TRUE %s", show(out).c_str());
  else
    answer(check, "FALSE err=%lu", static_cast<unsigned long>(GetLastError()));
}

void calendar() {
  toFileTime("SystemTimeToFileTime 1601-01-01", at(1601, 1, 1));
  toFileTime("SystemTimeToFileTime 2010-03-07 18:04:05.123", at(2010, 3, 7, 18, 4, 5, 123));
  toFileTime("SystemTimeToFileTime ignores the day of week", at(2010, 3, 7, 0, 0, 0, 0, 6));
  toFileTime("SystemTimeToFileTime 2012-02-29", at(2012, 2, 29));
  toFileTime("SystemTimeToFileTime 2000-02-29", at(2000, 2, 29));
  toFileTime("SystemTimeToFileTime 30827-12-31 23:59:59.999",
             at(30827, 12, 31, 23, 59, 59, 999));
  toFileTime("SystemTimeToFileTime 30828-01-01", at(30828, 1, 1));
  toFileTime("SystemTimeToFileTime 30828-09-14 02:48:05.477", at(30828, 9, 14, 2, 48, 5, 477));
  toFileTime("SystemTimeToFileTime 1600-12-31", at(1600, 12, 31));
  toFileTime("SystemTimeToFileTime 2011-02-29", at(2011, 2, 29));
  toFileTime("SystemTimeToFileTime 1900-02-29", at(1900, 2, 29));
  toFileTime("SystemTimeToFileTime month 0", at(2010, 0, 1));
  toFileTime("SystemTimeToFileTime month 13", at(2010, 13, 1));
  toFileTime("SystemTimeToFileTime day 0", at(2010, 1, 0));
  toFileTime("SystemTimeToFileTime day 32", at(2010, 1, 32));
  toFileTime("SystemTimeToFileTime hour 24", at(2010, 1, 1, 24));
  toFileTime("SystemTimeToFileTime minute 60", at(2010, 1, 1, 0, 60));
  toFileTime("SystemTimeToFileTime second 60", at(2010, 1, 1, 0, 0, 60));
  toFileTime("SystemTimeToFileTime millisecond 1000", at(2010, 1, 1, 0, 0, 0, 1000));

  toSystemTime("FileTimeToSystemTime 0", 0);
  toSystemTime("FileTimeToSystemTime 2010-03-07 18:04:05.123", 129124586451230000ULL);
  toSystemTime("FileTimeToSystemTime keeps the tick below a millisecond", 129124586451239999ULL);
  toSystemTime("FileTimeToSystemTime 30827-12-31 23:59:59.999", 0x7FFF35F4F06C8000ULL - 1);
  toSystemTime("FileTimeToSystemTime 30828-01-01", 0x7FFF35F4F06C8000ULL);
  toSystemTime("FileTimeToSystemTime largest positive", 0x7FFFFFFFFFFFFFFFULL);
  toSystemTime("FileTimeToSystemTime top bit set", 0x8000000000000000ULL);
  toSystemTime("FileTimeToSystemTime all bits set", 0xFFFFFFFFFFFFFFFFULL);

  // The round trip of every day of a leap year's end and of a century that is not one.
  int mismatches = 0;
  for (WORD year : {1601, 1899, 1900, 1970, 2000, 2024, 2100, 9999, 30827}) {
    for (WORD month = 1; month <= 12; ++month) {
      SYSTEMTIME day = at(year, month, 28, 12, 30, 15, 250);
      FILETIME file;
      SYSTEMTIME back;
      if (!SystemTimeToFileTime(&day, &file) || !FileTimeToSystemTime(&file, &back) ||
          back.wYear != year || back.wMonth != month || back.wDay != 28 || back.wHour != 12 ||
          back.wMinute != 30 || back.wSecond != 15 || back.wMilliseconds != 250)
        ++mismatches;
    }
  }
  answer("SystemTimeToFileTime round trips", "%d mismatches", mismatches);
}

void zone() {
  TIME_ZONE_INFORMATION info;
  std::memset(&info, 0xEE, sizeof info);
  SetLastError(conformance::kSentinel);
  DWORD id = GetTimeZoneInformation(&info);
  answer("GetTimeZoneInformation result", "%lu", static_cast<unsigned long>(id));
  answerCode("GetTimeZoneInformation Bias", info.Bias);
  answerCode("GetTimeZoneInformation StandardBias", info.StandardBias);
  answerCode("GetTimeZoneInformation DaylightBias", info.DaylightBias);
  answerText("GetTimeZoneInformation StandardDate", show(info.StandardDate));
  answerText("GetTimeZoneInformation DaylightDate", show(info.DaylightDate));
  answerText("GetTimeZoneInformation StandardName", zoneName(info.StandardName));
  answerText("GetTimeZoneInformation DaylightName", zoneName(info.DaylightName));
}

void localTime() {
  SYSTEMTIME now;
  std::memset(&now, 0xEE, sizeof now);
  GetLocalTime(&now);
  FILETIME file;
  SYSTEMTIME back{};
  bool ok = SystemTimeToFileTime(&now, &file) && FileTimeToSystemTime(&file, &back);
  answer("GetLocalTime is a real date with its day of week", "%s",
         ok && back.wDayOfWeek == now.wDayOfWeek ? "yes" : "no");
}

}  // namespace

int main() {
  calendar();
  zone();
  localTime();
  return 0;
}
