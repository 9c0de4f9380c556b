#include "tests/support/tool_run.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/device_test.h"

namespace ce::test {

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string cedevicePath() { return buildDir() + "/apps/cedevice/cedevice"; }

std::string cedeviceCommand(const std::string& home, const std::vector<std::string>& args) {
  std::string command = shellQuoted(cedevicePath()) + " --home " + shellQuoted(home);
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict, falsely) on `"..." + string`.
  for (const auto& arg : args) command.append(" ").append(shellQuoted(arg));
  return command;
}

ToolRun runCedevice(const std::string& home, const std::vector<std::string>& args) {
  std::error_code ignored;
  std::filesystem::create_directories(home, ignored);  // the tool makes it too; stderr lands there
  return runShell(cedeviceCommand(home, args), home + "/.cedevice.err");
}

ToolRun runShell(const std::string& commandLine, const std::string& errFile) {
  std::string command = "{ " + commandLine + "; }";
  command.append(" 2>").append(shellQuoted(errFile)).append(" </dev/null");
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = readFile(errFile);
  return run;
}

}  // namespace ce::test
