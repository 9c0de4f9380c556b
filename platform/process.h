// Processes and waiting, for the device tool: starting the listener and the scheduler,
// following the log, reacting to Ctrl-C. Not a device API.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ce {

struct SpawnOptions {
  std::vector<std::string> argv;    // argv[0] is the host path of the program
  std::string outputPath;           // stdout and stderr appended here; empty: inherited
  bool ownProcessGroup = false;     // keeps the terminal's Ctrl-C away from the child
  bool newSession = false;          // detaches from the terminal altogether
  std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
};

// Starts a program; its pid, or -1 with the reason in `error`.
int spawnProcess(const SpawnOptions& options, std::string& error);
// True while the process exists (and is not a zombie of ours).
bool processAlive(int pid);
// Waits for a child of this process up to timeoutMs (< 0: forever). Its exit code, 128 + the
// signal that ended it, or -1 when it is still running at the timeout.
int waitChild(int pid, int timeoutMs);
// Asks a process to end (SIGTERM); false when it does not exist.
bool terminateProcess(int pid);
// Folder of the running executable.
std::string executableDir();
// This process's id.
int currentProcessId();

// Waits, without polling, for Ctrl-C/SIGTERM, for a child to end, or for a file to grow.
// Creating it blocks SIGINT, SIGTERM and SIGCHLD in the calling thread (do it before starting
// threads, so they inherit the mask); they are then only seen through wait().
class EventWaiter {
 public:
  enum class Event { interrupted, childEnded, fileChanged, timeout };

  // `followedFile`: a host path whose growth or creation is reported ("" for none).
  explicit EventWaiter(const std::string& followedFile = "");
  ~EventWaiter();
  EventWaiter(const EventWaiter&) = delete;
  EventWaiter& operator=(const EventWaiter&) = delete;

  Event wait(int timeoutMs);

 private:
  int signalFd_ = -1;
  int inotifyFd_ = -1;
  std::string fileName_;
};

}  // namespace ce
