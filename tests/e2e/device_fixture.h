// A real device in a temporary home: the built cedevice, notlstnr and startsync programs run
// as separate processes, and the test looks at the same registry, store and files.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/process.h"

#include "tests/support/device_test.h"
#include "tests/support/log_lines.h"
#include "tests/support/settings.h"
#include "tests/support/tool_run.h"

namespace ce::test {

class DeviceProcessTest : public DeviceTest {
 protected:
  void TearDown() override;

  // Runs `cedevice ARGS...` on this device and waits for it.
  ToolRun cedevice(const std::vector<std::string>& args) { return runCedevice(home(), args); }
  // `cedevice init`, the client's settings given, then `cedevice boot --detach`, checked.
  void bootDevice(const std::vector<std::pair<const char*, const char*>>& settings = {});
  // `cedevice pim add KIND SUBJECT`: the new item's id, "" when the tool failed.
  std::string pimAdd(const std::string& kind, const std::string& subject);
  // Starts `argv` with this device's home and `environment`, its output in `outputPath` when
  // given; it is ended with the test if still running.
  ce::Process& spawn(const std::vector<std::string>& argv, const std::string& outputPath = "",
                     const std::vector<std::pair<std::string, std::string>>& environment = {});
  // The listener alone (no scheduler), its output in notlstnr-test.out.
  ce::Process& startListener();
  // Waits for a child to end; its exit code, or -1 when it is still running after timeoutMs.
  static int exitCodeOf(ce::Process& child, int timeoutMs = patienceMs);
  static bool waitUntil(const std::function<bool()>& condition) {
    return waitFor(condition, std::chrono::milliseconds(patienceMs));
  }

  std::string setting(const char* name) { return readSetting(name); }  // "" when absent
  void setSetting(const char* name, const std::string& value) { writeSetting(name, value); }
  std::vector<std::string> log() { return logEntries(home()); }
  // Waits until the log holds `count` entries with this text (after the tag).
  bool waitForLog(const std::string& message, int count = 1);
  // Returns once every change made before it has been handled: the listener handles one
  // event at a time and logs a note's creation just before recording it, so the second of two
  // new notes is logged after the first one's record. Each call adds notes (bit 16 of the
  // list); it counts on no other note being created.
  void waitUntilHandled();
  std::string fsPath(const std::string& relative) { return hostPath("fs/" + relative); }

  // The launcher's own record, \startsync.txt: one line per run.
  std::vector<std::string> launcherRuns();
  // Waits until the launcher has written `count` lines and no launcher of this device runs.
  bool waitForLauncherRuns(size_t count);

  // The device's own record of a role's process, "run/boot.pid" for one: its pid, 0 when none.
  int recordedPid(const char* record);

  static constexpr int patienceMs = 30000;

 private:
  std::deque<ce::Process> processes_;  // a deque keeps the references handed out
  int handledNotes_ = 0;
};

// True while `pid` names a process that has not ended (a zombie has).
bool running(int pid);
// Sends `signalNumber` to the one process `pid`, as kill() does; false, sending nothing, for a
// pid of 0 or less, which kill() takes for a whole process group: a missing pid record would
// stop or kill this test, ctest and whatever started them.
bool signalProcess(int pid, int signalNumber);

}  // namespace ce::test
