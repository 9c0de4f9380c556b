// How status and schedule show a pending program start, as text and in JSON alike.
#pragma once

#include <string>

#include "platform/notify.h"

namespace cedevice {

// "YYYY-MM-DD HH:MM:SS", device local time.
std::string dueText(const SYSTEMTIME& due);
// The program's device path, or "?" for one that has no text to show.
std::string programText(const std::wstring& devicePath);
// "YYYY-MM-DD HH:MM:SS <program>".
std::string scheduleLine(const ce::notify::Request& request);

}  // namespace cedevice
