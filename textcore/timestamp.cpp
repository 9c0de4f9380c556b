// Local time and the standard offset from UTC, as the log prints them.
#include "textcore/timestamp.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/windows.h"

namespace {

// `value` in decimal, zero-padded to `width` digits; every log line pays for this.
char* putNumber(char* at, long value, int width) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  for (long n = end - digits; n < width; ++n) *at++ = '0';
  std::memcpy(at, digits, static_cast<size_t>(end - digits));
  return at + (end - digits);
}

}  // namespace

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
  // The longest stamp, every field at its largest, is well under 64 bytes.
  if (room >= 64) {
    char* at = out;
    if (withDate) {
      at = putNumber(at, now.wYear, 4);
      *at++ = '-';
      at = putNumber(at, now.wMonth, 2);
      *at++ = '-';
      at = putNumber(at, now.wDay, 2);
      *at++ = ' ';
    }
    at = putNumber(at, now.wHour, 2);
    *at++ = ':';
    at = putNumber(at, now.wMinute, 2);
    *at++ = ':';
    at = putNumber(at, now.wSecond, 2);
    std::memcpy(at, " GMT ", 5);
    at += 5;
    *at++ = sign;
    at = putNumber(at, hours, 1);
    *at++ = ':';
    at = putNumber(at, minutes, 2);
    *at = '\0';
  } else if (withDate) {
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
