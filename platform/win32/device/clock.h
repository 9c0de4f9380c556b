// The local clock and time zone as the device's programs read them: desktop Windows' own,
// unless a test froze the clock or set the zone's bias (platform/testing.h).
#pragma once

void CeGetLocalTime(LPSYSTEMTIME now);
DWORD CeGetTimeZoneInformation(LPTIME_ZONE_INFORMATION zone);

#define GetLocalTime CeGetLocalTime
#define GetTimeZoneInformation CeGetTimeZoneInformation
