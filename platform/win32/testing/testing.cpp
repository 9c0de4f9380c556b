// What tests need of the platform, on Windows: a fresh device per test (HKEY_LOCAL_MACHINE
// follows %CE_DEVICE_HOME%), the clock, and fail points. A fail point needs a hook in the call
// it makes fail, which only the calls the Windows side makes itself have (fail_points.cpp): a
// test that sets one elsewhere is excluded from the Windows run (tests/windows/CMakeLists.txt)
// and stops here loudly if it is not.
#include "platform/testing.h"

#include <cstdio>
#include <cstdlib>

#include "platform/win32/device/clock_override.h"
#include "platform/win32/device/fail_points.h"
#include "platform/win32/device/machine_key.h"

namespace ce::testing {

namespace {

void unavailable(const char* what) {
  std::fprintf(stderr, "platform testing: %s is not available on Windows\n", what);
  std::abort();
}

}  // namespace

void reset() {
  clearFailPoints();
  thawLocalTime();
  clearTimeZoneBias();
  if (LONG rc = ce::win32::redirectMachineKey(); rc != ERROR_SUCCESS)
    std::fprintf(stderr, "platform testing: HKEY_LOCAL_MACHINE not redirected (error %ld)\n", rc);
}

void freezeLocalTime(const SYSTEMTIME& now) {
  FILETIME time;
  if (!SystemTimeToFileTime(&now, &time)) unavailable("freezing the clock at an impossible time");
  auto& clock = ce::win32::clockOverride();
  ce::win32::Exclusive hold(clock.lock);
  clock.frozenTicks = (static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                      time.dwLowDateTime;
}

void advanceLocalTime(long long milliseconds) {
  auto& clock = ce::win32::clockOverride();
  ce::win32::Exclusive hold(clock.lock);
  if (clock.frozenTicks) *clock.frozenTicks += milliseconds * 10000;
}

void thawLocalTime() {
  auto& clock = ce::win32::clockOverride();
  ce::win32::Exclusive hold(clock.lock);
  clock.frozenTicks.reset();
}

void setTimeZoneBias(LONG biasMinutes) {
  auto& clock = ce::win32::clockOverride();
  ce::win32::Exclusive hold(clock.lock);
  clock.bias = biasMinutes;
}

void clearTimeZoneBias() {
  auto& clock = ce::win32::clockOverride();
  ce::win32::Exclusive hold(clock.lock);
  clock.bias.reset();
}

void setRegistryBusyTimeout(int) { unavailable("setRegistryBusyTimeout"); }
void setRunAtTimeBusyTimeout(int) { unavailable("setRunAtTimeBusyTimeout"); }
void setFailPoint(const char* function, long long result, DWORD lastError, int times) {
  if (!ce::win32::hasFailPoint(function)) unavailable(function);
  ce::win32::armFailPoint(function, result, lastError, times);
}

void clearFailPoints() { ce::win32::disarmFailPoints(); }
void acceptMessagesFromUser(long long) { unavailable("acceptMessagesFromUser"); }

}  // namespace ce::testing
