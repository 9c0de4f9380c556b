#include "apps/cedevice/json_output.h"

#include <cstdio>
#include <string>

#include "apps/cedevice/schedule_text.h"

namespace cedevice {

void printJson(const nlohmann::json& value) {
  std::string text = value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

nlohmann::json scheduleJson(const std::vector<ce::notify::Request>& requests) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& request : requests) {
    out.push_back({{"due", dueText(request.due)}, {"program", programText(request.app)}});
  }
  return out;
}

}  // namespace cedevice
