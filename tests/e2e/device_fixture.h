// A real device in a temporary home: the built cedevice, notlstnr and startsync programs run
// as separate processes, and the test looks at the same registry, store and files.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/process.h"

#include "tests/support/device_test.h"
#include "tests/support/log_lines.h"
#include "tests/support/settings.h"
#include "tests/support/tool_run.h"

namespace ce::test {

using ToolResult = ToolRun;

class DeviceProcessTest : public DeviceTest {
 protected:
  void TearDown() override;

  // Runs `cedevice ARGS...` on this device and waits for it.
  ToolResult cedevice(const std::vector<std::string>& args);
  // `cedevice init` and `cedevice boot --detach`, checked.
  void bootDevice();
  // Starts the listener directly (no scheduler); it is ended with the test if still running.
  ce::Process& startListener();
  // Waits for a child to end; its exit code, or -1 when it is still running after timeoutMs.
  static int exitCodeOf(ce::Process& child, int timeoutMs = patienceMs);

  std::string setting(const char* name) { return readSetting(name); }  // "" when absent
  void setSetting(const char* name, const std::string& value) { writeSetting(name, value); }
  std::vector<std::string> log() { return logEntries(home()); }
  // Waits until the log holds an entry with this text (after the tag).
  bool waitForLog(const std::string& message, int count = 1);
  bool waitForSetting(const char* name, const std::string& value);
  std::string fsPath(const std::string& relative) { return hostPath("fs/" + relative); }

  // The launcher's own record, \startsync.txt: one line per run.
  std::vector<std::string> launcherRuns();
  // Waits until the launcher has written `count` lines and no launcher of this device runs.
  bool waitForLauncherRuns(size_t count, int timeoutMs = patienceMs);

  // The device's own record of a role's process, "run/boot.pid" for one: its pid, 0 when none.
  int recordedPid(const char* record);

  static constexpr int patienceMs = 30000;
  std::deque<ce::Process> listeners_;  // a deque keeps the references handed out
};

// True while `pid` names a process that has not ended (a zombie has).
bool running(int pid);

}  // namespace ce::test
