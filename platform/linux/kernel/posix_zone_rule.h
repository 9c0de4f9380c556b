// A zone's yearly rule in the POSIX TZ form ("CET-1CEST,M3.5.0,M10.5.0/3"), which is also how
// the zone database ends each TZif file: the rule in force after its last listed change.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/kernel/kernel.h"

namespace ce::kernel {

struct PosixZoneRule {
  LONG bias = 0;          // minutes, UTC = local + bias
  bool daylight = false;  // a yearly change to and from daylight saving
  LONG daylightBias = 0;  // minutes added to bias while daylight saving is in force
  // The changes as the device writes them: the wall time just before each; a fixed day of
  // the year carries `year`.
  SYSTEMTIME daylightDate{};
  SYSTEMTIME standardDate{};
};

// Nothing for text that is not such a rule. `year` places a rule given as a day of the year.
std::optional<PosixZoneRule> parsePosixZoneRule(std::string_view text, int year);

// The rule at the end of a TZif file (version 2 or later); nothing for older or other files.
std::optional<std::string> tzifFooter(std::string_view fileContent);

}  // namespace ce::kernel
