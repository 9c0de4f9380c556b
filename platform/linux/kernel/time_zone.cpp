// The time zone as the device describes it: the standard bias and the zone's yearly daylight
// rules, read from the zone database glibc uses (/usr/share/zoneinfo), whose TZif files end
// with the zone's current rule in the POSIX form; TZ may also be such a rule itself.
//
// The zone is the one the process's TZ names, else the host's; each answer is kept until TZ
// or the year changes, because the log asks once per line.
#include <time.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/linux/kernel/posix_zone_rule.h"
#include "platform/linux/kernel/time_zone_names.h"

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

// The zone's TZif file: TZ's name below the zone database (or TZ's own absolute path), else
// the host's zone.
std::string zoneFile(const std::string& id) {
  if (id.empty()) return "/etc/localtime";
  if (id[0] == '/') return id;
  const char* dir = std::getenv("TZDIR");
  return std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + id;
}

// The file's content; empty when it cannot be read. Zone files are a few kilobytes.
std::string readZoneFile(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rbe"), &std::fclose);
  if (!file) return {};
  std::string content;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0 && content.size() < (1 << 20))
    content.append(chunk, n);
  return content;
}

void copyName(const std::u16string& name, WCHAR (&field)[32]) {
  size_t n = std::min<size_t>(name.size(), 31);
  for (size_t i = 0; i < n; ++i) field[i] = static_cast<WCHAR>(name[i]);
  field[n] = 0;
}

// Reads the zone's answer; false when neither the zone database nor TZ gives a rule.
bool readZone(const std::string& tz, int year, ZoneAnswer& answer) {
  std::string id = !tz.empty() && tz[0] == ':' ? tz.substr(1) : tz;
  const std::string file = zoneFile(id);
  std::optional<std::string> footer = ce::kernel::tzifFooter(readZoneFile(file));
  std::optional<ce::kernel::PosixZoneRule> rule =
      ce::kernel::parsePosixZoneRule(footer ? *footer : id, year);
  if (!rule) return false;

  TIME_ZONE_INFORMATION& info = answer.info;
  info = TIME_ZONE_INFORMATION{};
  info.Bias = rule->bias;
  // The device's zones are named "<place> Standard Time" and "<place> Daylight Time".
  std::u16string standardName =
      footer ? ce::kernel::windowsZoneName(id, file) : std::u16string();
  std::u16string daylightName = standardName;
  const std::u16string suffix = u"Standard Time";
  if (daylightName.size() >= suffix.size() &&
      daylightName.compare(daylightName.size() - suffix.size(), suffix.size(), suffix) == 0)
    daylightName.replace(daylightName.size() - suffix.size(), suffix.size(), u"Daylight Time");
  copyName(standardName, info.StandardName);
  copyName(daylightName, info.DaylightName);

  answer.daylightRules = rule->daylight;
  if (rule->daylight) {
    info.DaylightBias = rule->daylightBias;
    info.StandardDate = rule->standardDate;
    info.DaylightDate = rule->daylightDate;
  }
  return true;
}

// The zone's answer when nothing gives its rule: glibc's standard offset alone.
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
