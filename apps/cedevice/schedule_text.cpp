#include "apps/cedevice/schedule_text.h"

#include <cstdio>

#include "platform/linux/device.h"

namespace cedevice {

std::string dueText(const SYSTEMTIME& due) {
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", due.wYear, due.wMonth,
                due.wDay, due.wHour, due.wMinute, due.wSecond);
  return text;
}

std::string programText(const std::wstring& devicePath) {
  return ce::fileNameForMessage(devicePath);
}

std::string scheduleLine(const ce::notify::Request& request) {
  return dueText(request.due) + " " + programText(request.app);
}

}  // namespace cedevice
