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

// The built device tool's host path.
std::string cedevicePath();
// `cedevice --home HOME ARGS...` as a shell command line, every word quoted.
std::string cedeviceCommand(const std::string& home, const std::vector<std::string>& args);
// `cedevice --home HOME ARGS...`, waited for; standard input is empty.
ToolRun runCedevice(const std::string& home, const std::vector<std::string>& args);

// A shell command line, waited for; standard error goes through `errFile`.
ToolRun runShell(const std::string& command, const std::string& errFile);
// `text` quoted for the shell.
std::string shellQuoted(const std::string& text);

}  // namespace ce::test
