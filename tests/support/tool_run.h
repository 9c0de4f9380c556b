// Runs the built device tool as a person would, and captures what it says.
#pragma once

#include <string>
#include <vector>

namespace ce::test {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// `cedevice --home HOME ARGS...`, waited for; standard input is empty.
ToolRun runCedevice(const std::string& home, const std::vector<std::string>& args);

}  // namespace ce::test
