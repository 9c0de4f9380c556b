// Zone names from ICU's data tables (windowsZones, timezoneTypes) through its resource bundle
// reader alone: no calendar or zone-rule code is loaded, so a process that stamps log lines
// pays for neither.
#include "platform/linux/kernel/time_zone_names.h"

#include <limits.h>
#include <stdlib.h>

#include <unicode/ures.h>

#include <memory>

namespace ce::kernel {
namespace {

struct BundleCloser {
  void operator()(UResourceBundle* bundle) const { ures_close(bundle); }
};
using Bundle = std::unique_ptr<UResourceBundle, BundleCloser>;

Bundle child(const UResourceBundle* parent, const char* key) {
  if (!parent) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  Bundle found(ures_getByKey(parent, key, nullptr, &status));
  return U_SUCCESS(status) ? std::move(found) : nullptr;
}

Bundle table(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  Bundle opened(ures_openDirect(nullptr, name, &status));
  return U_SUCCESS(status) ? std::move(opened) : nullptr;
}

std::string utf8Of(const UResourceBundle* bundle) {
  UErrorCode status = U_ZERO_ERROR;
  char text[512];
  int32_t length = sizeof text;
  const char* utf8 = ures_getUTF8String(bundle, text, &length, false, &status);
  return U_SUCCESS(status) ? std::string(utf8, static_cast<size_t>(length)) : std::string();
}

// The name ICU's tables use for a zone the zone database names otherwise ("Asia/Kolkata" is
// "Asia/Calcutta" there); the id itself when it has no other.
std::string tableId(const std::string& id) {
  std::string key = id;
  for (char& c : key)
    if (c == '/') c = ':';
  Bundle alias = child(child(table("timezoneTypes").get(), "typeAlias").get(), "timezone");
  Bundle named = child(alias.get(), key.c_str());
  std::string canonical = named ? utf8Of(named.get()) : std::string();
  return canonical.empty() ? id : canonical;
}

// The Windows name of the zone `id` exactly as the windowsZones table lists it.
std::u16string listedName(const std::string& id) {
  Bundle zones = child(table("windowsZones").get(), "mapTimezones");
  if (!zones) return {};
  ures_resetIterator(zones.get());
  while (ures_hasNext(zones.get())) {
    UErrorCode status = U_ZERO_ERROR;
    Bundle windowsZone(ures_getNextResource(zones.get(), nullptr, &status));
    if (U_FAILURE(status)) break;
    ures_resetIterator(windowsZone.get());
    while (ures_hasNext(windowsZone.get())) {
      Bundle territory(ures_getNextResource(windowsZone.get(), nullptr, &status));
      if (U_FAILURE(status)) break;
      // Space-separated zone ids.
      std::string ids = " " + utf8Of(territory.get()) + " ";
      if (ids.find(" " + id + " ") == std::string::npos) continue;
      const char* key = ures_getKey(windowsZone.get());
      return key ? std::u16string(key, key + std::char_traits<char>::length(key))
                 : std::u16string();
    }
  }
  return {};
}

// The zone database's own name for a file of it: what a link (US/Eastern, /etc/localtime)
// points at, below ".../zoneinfo/".
std::string resolvedId(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return {};
  std::string full = resolved;
  static const std::string marker = "zoneinfo/";
  size_t at = full.rfind(marker);
  return at == std::string::npos ? std::string() : full.substr(at + marker.size());
}

}  // namespace

std::u16string windowsZoneName(const std::string& id, const std::string& zoneFile) {
  for (const std::string& candidate : {id, resolvedId(zoneFile)}) {
    if (candidate.empty()) continue;
    // The alias table only when the zone is not listed as named: most zones are.
    std::u16string name = listedName(candidate);
    if (name.empty()) name = listedName(tableId(candidate));
    if (!name.empty()) return name;
  }
  return {};
}

}  // namespace ce::kernel
