#include "platform/win32/device/clock_override.h"


#undef GetLocalTime
#undef GetTimeZoneInformation

namespace ce::win32 {

ClockOverride& clockOverride() {
  static ClockOverride instance;
  return instance;
}

}  // namespace ce::win32

void CeGetLocalTime(LPSYSTEMTIME now) {
  ce::win32::ClockOverride& clock = ce::win32::clockOverride();
  {
    ce::win32::Exclusive hold(clock.lock);
    if (clock.frozenTicks) {
      FILETIME time{static_cast<DWORD>(*clock.frozenTicks),
                    static_cast<DWORD>(*clock.frozenTicks >> 32)};
      if (FileTimeToSystemTime(&time, now)) return;
    }
  }
  GetLocalTime(now);
}

DWORD CeGetTimeZoneInformation(LPTIME_ZONE_INFORMATION zone) {
  ce::win32::ClockOverride& clock = ce::win32::clockOverride();
  {
    ce::win32::Exclusive hold(clock.lock);
    if (clock.bias) {
      *zone = TIME_ZONE_INFORMATION{};
      zone->Bias = *clock.bias;
      return TIME_ZONE_ID_UNKNOWN;
    }
  }
  return GetTimeZoneInformation(zone);
}
