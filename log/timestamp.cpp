// Local time and the standard offset from UTC, as the log prints them.
#include "log/timestamp.h"

#include <cstdio>
#include <cstdlib>

#include "platform/windows.h"

// Only the standard Bias counts, as on the device: a line written in summer carries the
// winter offset.
char* formatTimestamp(char* out, size_t room, bool withDate) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone;
  GetTimeZoneInformation(&zone);
  // Bias is minutes with UTC = local + bias, so a zone east of Greenwich has a negative bias.
  char sign = zone.Bias <= 0 ? '+' : '-';
  int hours = std::abs(static_cast<int>(zone.Bias / 60));
  int minutes = std::abs(static_cast<int>(zone.Bias % 60));
  if (withDate) {
    std::snprintf(out, room, "%04d-%02d-%02d %02d:%02d:%02d GMT %c%d:%02d", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, sign, hours,
                  minutes);
  } else {
    std::snprintf(out, room, "%02d:%02d:%02d GMT %c%d:%02d", now.wHour, now.wMinute,
                  now.wSecond, sign, hours, minutes);
  }
  return out;
}

StringBuffer makeTimestamp(bool withDate) {
  char stamp[64];
  return StringBuffer(formatTimestamp(stamp, sizeof stamp, withDate));
}
