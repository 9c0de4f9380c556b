// SYSTEMTIME <-> stored ticks, through the system's own calendar.
#include "platform/win32/notify/time_ticks.h"

namespace ce::notify {

bool ticksOf(const SYSTEMTIME& time, long long& ticks) {
  FILETIME fileTime;
  if (!SystemTimeToFileTime(&time, &fileTime)) return false;
  ticks = static_cast<long long>((static_cast<unsigned long long>(fileTime.dwHighDateTime) << 32) |
                                 fileTime.dwLowDateTime);
  return ticks >= 0;
}

bool timeOf(long long ticks, SYSTEMTIME& time) {
  if (ticks < 0) return false;
  FILETIME fileTime{static_cast<DWORD>(ticks),
                    static_cast<DWORD>(static_cast<unsigned long long>(ticks) >> 32)};
  return FileTimeToSystemTime(&fileTime, &time) != FALSE;
}

}  // namespace ce::notify
