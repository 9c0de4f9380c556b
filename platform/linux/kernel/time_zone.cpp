// The time zone as the device describes it: the standard bias and the zone's yearly daylight
// rules, read from ICU's copy of the zone database.
//
// TIME_ZONE_INFORMATION holds one rule a year for each change: a month, a weekday and its
// week in the month (5 for the last), and the local time the clock shows just before the
// change. ICU gives the zone's rules near a date in that very shape. The zone is the one
// the process's TZ names, else the host's; each answer is kept until TZ or the year changes,
// because the log asks once per line.
#include <time.h>

#include <unicode/basictz.h>
#include <unicode/calendar.h>
#include <unicode/dtrule.h>
#include <unicode/timezone.h>
#include <unicode/tzrule.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"

namespace {

struct ZoneAnswer {
  std::string tz;  // the TZ value it was read for
  int year = 0;    // and the year
  TIME_ZONE_INFORMATION info{};
  bool daylightRules = false;
};

std::mutex zoneMutex;
ZoneAnswer cached;
bool cacheValid = false;

int daysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

// The change `rule` describes, as the device writes it. `savingsBefore` is the daylight
// saving in force just before the change, which a time given in standard time or UTC lacks.
SYSTEMTIME changeOf(const icu::DateTimeRule& rule, int rawOffsetMs, int savingsBefore, int year) {
  SYSTEMTIME t{};
  t.wMonth = static_cast<WORD>(rule.getRuleMonth() + 1);
  int dayOfWeek = rule.getRuleDayOfWeek() - 1;  // ICU counts Sunday as 1, the device as 0
  int day = rule.getRuleDayOfMonth();
  switch (rule.getDateRuleType()) {
    case icu::DateTimeRule::DOW: {
      int week = rule.getRuleWeekInMonth();
      t.wDayOfWeek = static_cast<WORD>(dayOfWeek);
      t.wDay = static_cast<WORD>(week < 0 || week > 4 ? 5 : week);
      break;
    }
    case icu::DateTimeRule::DOW_GEQ_DOM:  // "Sun>=8": the week that day falls in
      t.wDayOfWeek = static_cast<WORD>(dayOfWeek);
      t.wDay = static_cast<WORD>(std::min(5, (day + 6) / 7));
      break;
    case icu::DateTimeRule::DOW_LEQ_DOM:  // "Sun<=25", or the last one of the month
      t.wDayOfWeek = static_cast<WORD>(dayOfWeek);
      t.wDay = static_cast<WORD>(day > daysInMonth(year, t.wMonth) - 7 ? 5 : std::max(1, day / 7));
      break;
    case icu::DateTimeRule::DOM:  // a fixed date: the device's form for one year only
      t.wYear = static_cast<WORD>(year);
      t.wDay = static_cast<WORD>(day);
      break;
  }
  long ms = rule.getRuleMillisInDay();
  if (rule.getTimeRuleType() == icu::DateTimeRule::UTC_TIME) ms += rawOffsetMs;
  if (rule.getTimeRuleType() != icu::DateTimeRule::WALL_TIME) ms += savingsBefore;
  constexpr long dayMs = 24L * 3600 * 1000;
  ms = ((ms % dayMs) + dayMs) % dayMs;
  t.wHour = static_cast<WORD>(ms / 3600000);
  t.wMinute = static_cast<WORD>(ms / 60000 % 60);
  t.wSecond = static_cast<WORD>(ms / 1000 % 60);
  return t;
}

void copyName(const std::u16string& name, WCHAR (&field)[32]) {
  size_t n = std::min<size_t>(name.size(), 31);
  for (size_t i = 0; i < n; ++i) field[i] = static_cast<WCHAR>(name[i]);
  field[n] = 0;
}

// The zone TZ names (":Europe/Berlin" and "Europe/Berlin" alike), else the host's.
std::unique_ptr<icu::TimeZone> zoneNamed(const std::string& tz) {
  std::string id = tz[0] == ':' ? tz.substr(1) : tz;
  if (id.empty()) return std::unique_ptr<icu::TimeZone>(icu::TimeZone::detectHostTimeZone());
  std::unique_ptr<icu::TimeZone> zone(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(id)));
  if (*zone == icu::TimeZone::getUnknown()) return nullptr;
  return zone;
}

// Reads the zone's answer; false when ICU does not know the zone.
bool readZone(const std::string& tz, int year, ZoneAnswer& answer) {
  std::unique_ptr<icu::TimeZone> zone = zoneNamed(tz);
  auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone.get());
  if (!basic) return false;
  UErrorCode status = U_ZERO_ERROR;
  icu::InitialTimeZoneRule* initial = nullptr;
  icu::AnnualTimeZoneRule* standard = nullptr;
  icu::AnnualTimeZoneRule* daylight = nullptr;
  basic->getSimpleRulesNear(icu::Calendar::getNow(), initial, standard, daylight, status);
  std::unique_ptr<icu::TimeZoneRule> owned[] = {std::unique_ptr<icu::TimeZoneRule>(initial),
                                                std::unique_ptr<icu::TimeZoneRule>(standard),
                                                std::unique_ptr<icu::TimeZoneRule>(daylight)};
  if (U_FAILURE(status) || !initial) return false;

  TIME_ZONE_INFORMATION& info = answer.info;
  info = TIME_ZONE_INFORMATION{};
  int rawOffset = initial->getRawOffset();
  info.Bias = static_cast<LONG>(-rawOffset / 60000);
  icu::UnicodeString id, windowsId;
  zone->getID(id);
  status = U_ZERO_ERROR;
  icu::TimeZone::getWindowsID(id, windowsId, status);
  std::u16string standardName(reinterpret_cast<const char16_t*>(windowsId.getBuffer()),
                              static_cast<size_t>(windowsId.length()));
  std::u16string daylightName = standardName;
  // The device's zones are named "<place> Standard Time" and "<place> Daylight Time".
  const std::u16string suffix = u"Standard Time";
  if (daylightName.size() >= suffix.size() &&
      daylightName.compare(daylightName.size() - suffix.size(), suffix.size(), suffix) == 0)
    daylightName.replace(daylightName.size() - suffix.size(), suffix.size(), u"Daylight Time");
  copyName(standardName, info.StandardName);
  copyName(daylightName, info.DaylightName);

  answer.daylightRules = standard && daylight;
  if (answer.daylightRules) {
    int savings = daylight->getDSTSavings();
    info.DaylightBias = static_cast<LONG>(-savings / 60000);
    info.StandardDate = changeOf(*standard->getRule(), rawOffset, savings, year);
    info.DaylightDate = changeOf(*daylight->getRule(), rawOffset, 0, year);
  }
  return true;
}

// The zone's answer when ICU does not know it: glibc's standard offset alone.
void readOffsetOnly(ZoneAnswer& answer) {
  tzset();
  answer.info = TIME_ZONE_INFORMATION{};
  // glibc's `timezone` is seconds west of UTC: the sign the device's Bias uses.
  answer.info.Bias = static_cast<LONG>(timezone / 60);
  answer.daylightRules = false;
}

}  // namespace

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info) {
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  if (auto bias = ce::kernel::timeZoneBiasOverride()) {
    *info = TIME_ZONE_INFORMATION{};
    info->Bias = *bias;
    return TIME_ZONE_ID_UNKNOWN;
  }
  const char* tzValue = std::getenv("TZ");
  std::string tz = tzValue ? tzValue : "";
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  int year = local.tm_year + 1900;
  bool daylightRules;
  {
    std::lock_guard<std::mutex> lock(zoneMutex);
    if (!cacheValid || cached.tz != tz || cached.year != year) {
      ZoneAnswer fresh;
      fresh.tz = tz;
      fresh.year = year;
      if (!readZone(tz, year, fresh)) readOffsetOnly(fresh);
      cached = fresh;
      cacheValid = true;
    }
    *info = cached.info;
    daylightRules = cached.daylightRules;
  }
  if (!daylightRules) return TIME_ZONE_ID_UNKNOWN;
  return local.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

namespace ce::kernel {
void resetTimeZone() {
  std::lock_guard<std::mutex> lock(zoneMutex);
  cacheValid = false;
}
}  // namespace ce::kernel
