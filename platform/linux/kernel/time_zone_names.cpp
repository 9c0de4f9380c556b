// Zone names from a table made at build time from ICU's windowsZones data
// (zone_names_generator.cpp): a sorted array searched in place, with no ICU code run.
#include "platform/linux/kernel/time_zone_names.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace ce::kernel {
namespace {

struct ZoneName {
  const char* id;
  const char* windowsName;
};

// Sorted by id (the generator writes them from an ordered map).
const ZoneName kZoneNames[] = {
#include "zone_names_table.inc"
};

const char* listedName(const std::string& id) {
  auto at = std::lower_bound(std::begin(kZoneNames), std::end(kZoneNames), id,
                             [](const ZoneName& entry, const std::string& wanted) {
                               return std::strcmp(entry.id, wanted.c_str()) < 0;
                             });
  return at != std::end(kZoneNames) && id == at->id ? at->windowsName : nullptr;
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
    if (const char* name = listedName(candidate))
      return std::u16string(name, name + std::strlen(name));
  }
  return {};
}

}  // namespace ce::kernel
