#include "apps/cedevice/json_output.h"

#include <cstdio>
#include <string>

#include "platform/device.h"

namespace cedevice {

void printJson(const nlohmann::json& value) {
  std::string text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

nlohmann::json scheduleJson(const std::vector<ce::notify::Request>& requests) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& request : requests) {
    char due[48];
    std::snprintf(due, sizeof due, "%04d-%02d-%02d %02d:%02d:%02d", request.due.wYear,
                  request.due.wMonth, request.due.wDay, request.due.wHour, request.due.wMinute,
                  request.due.wSecond);
    std::string program;
    out.push_back({{"due", due},
                   {"program", ce::narrowFileName(request.app, program) ? program : "?"}});
  }
  return out;
}

}  // namespace cedevice
