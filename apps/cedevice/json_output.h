// Machine-readable output of the commands that take --json.
#pragma once

#include <vector>

#include <nlohmann/json.hpp>

#include "platform/notify.h"

namespace cedevice {

// Writes `value` to standard output, indented, with a final newline. Text the device holds may
// not be valid UTF-8 (file names are bytes): such bytes become U+FFFD instead of failing.
void printJson(const nlohmann::json& value);

// [{"due": "YYYY-MM-DD HH:MM:SS", "program": "\\..."}], as status and schedule show them.
nlohmann::json scheduleJson(const std::vector<ce::notify::Request>& requests);

}  // namespace cedevice
