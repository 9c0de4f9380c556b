// What the listener answers when the device tool asks for its state (platform/
// process_state.h): "sourceFlags " and one '0' or '1' per source, in the order of the
// sources table, '1' for a suspended source.
#pragma once

#include <optional>
#include <string>

#include "recording/data_sources.h"

namespace apps {

inline constexpr const char* sourceFlagsKey = "sourceFlags ";

inline std::string listenerStateText(const unsigned char (&flags)[dataSourceCount]) {
  std::string text = sourceFlagsKey;
  for (unsigned char flag : flags) text += flag ? '1' : '0';
  return text;
}

// The flags of a state text, or nullopt when it is not one.
inline std::optional<std::string> sourceFlagsOf(const std::string& state) {
  std::string key = sourceFlagsKey;
  if (state.rfind(key, 0) != 0 || state.size() != key.size() + dataSourceCount) return std::nullopt;
  std::string flags = state.substr(key.size());
  if (flags.find_first_not_of("01") != std::string::npos) return std::nullopt;
  return flags;
}

}  // namespace apps
