// Helpers shared by the run-at-time and scheduler tests.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "tests/support/device_test.h"

namespace notify_test {

using Lines = std::vector<std::string>;
constexpr const wchar_t* launcher = L"\\Program Files\\Quillbex\\startsync.exe";

inline SYSTEMTIME at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0,
                     WORD milliseconds = 0) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, second, milliseconds};
}

inline std::string text(const SYSTEMTIME& t) {
  char out[64];
  std::snprintf(out, sizeof out, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return out;
}

// "<time> <device path>" per pending request, earliest first.
inline Lines pending() {
  Lines lines;
  for (const auto& request : ce::notify::pendingRequests()) {
    std::string app;
    for (wchar_t c : request.app) app += static_cast<char>(c < 128 ? c : '?');
    lines.push_back(text(request.due) + " " + app);
  }
  return lines;
}

}  // namespace notify_test
