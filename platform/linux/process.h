// Processes and waiting, for the device tool and the scheduler: starting programs, knowing
// them again later without trusting a bare pid, following the log, reacting to Ctrl-C.
// Not a device API.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ce {

struct SpawnOptions {
  std::vector<std::string> argv;  // argv[0] is the host path of the program
  // stdout and stderr appended to this file (a regular file, never reached through a link,
  // created 0600); when empty, to outputDescriptor, else inherited.
  std::string outputPath;
  bool freshOutput = false;    // empties outputPath first instead of appending
  bool discardOutput = false;  // stdout and stderr to /dev/null instead
  int outputDescriptor = -1;
  bool ownProcessGroup = false;  // keeps the terminal's Ctrl-C away from the child
  bool newSession = false;       // detaches from the terminal altogether
  // The child receives SIGTERM when the thread that started it ends, however it ends; a
  // child whose starter is already gone by the time it could ask for that does not run.
  bool endWithStarter = false;
  std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
  // Descriptors the child keeps at the same numbers. Every other one above standard error
  // is closed, and standard input is /dev/null, so a child holds nothing of its starter's
  // callers (a pipe someone waits on to reach its end, for instance).
  std::vector<int> keptDescriptors;
};

// Who a process is: its pid together with its start time, which a later process reusing
// the pid cannot share. Written to run/ files as "PID START".
struct ProcessIdentity {
  int pid = 0;
  unsigned long long startTime = 0;  // clock ticks after the host's boot

  // The identity of the process that has this pid now; nullopt when there is none.
  static std::optional<ProcessIdentity> of(int pid);
  static std::optional<ProcessIdentity> parse(const std::string& text);
  std::string text() const;
};

// A process held through a pidfd: waits need no polling, and signals cannot reach another
// process that took over the pid. Letting go of the handle neither ends nor reaps the
// process.
class Process {
 public:
  Process() = default;
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts a program as a child of this process; an invalid handle with the reason in
  // `error` when it cannot.
  static Process start(const SpawnOptions& options, std::string& error);
  // The process of that identity while it runs; an invalid handle once it has ended, or
  // when its pid now names another process.
  static Process find(const ProcessIdentity& identity);

  bool valid() const { return fd_ >= 0; }
  int id() const { return pid_; }
  ProcessIdentity identity() const { return {pid_, startTime_}; }
  // Becomes readable when the process ends, for a poll that waits on other things too.
  int endDescriptor() const { return fd_; }

  // Waits up to timeoutMs (< 0: forever) for the process to end; true once it has. A child
  // of ours is reaped here.
  bool waitForEnd(int timeoutMs);
  bool ended() { return waitForEnd(0); }
  // Exit code of a reaped child, 128 + the signal that ended it; -1 before that, or for a
  // process that is not our child.
  int exitCode() const { return exitCode_; }
  // False when the process has already ended.
  bool signal(int signalNumber);
  bool terminate();  // SIGTERM
  bool kill();       // SIGKILL

 private:
  Process(int fd, int pid, unsigned long long startTime, bool child)
      : fd_(fd), pid_(pid), startTime_(startTime), child_(child) {}
  void reset();

  int fd_ = -1;
  int pid_ = 0;
  unsigned long long startTime_ = 0;
  bool child_ = false;
  int exitCode_ = -1;
};

// One line from a starting child to its starter: "ready", or why it cannot be. The child
// inherits the writing end (pass childEnd() in keptDescriptors and tell it the number); the
// starter's end sees the end of the pipe once every process holding the writing end is gone.
class ReadyChannel {
 public:
  enum class Outcome { line, closed, timeout };

  ReadyChannel();  // throws std::runtime_error when no pipe can be made
  ~ReadyChannel();
  ReadyChannel(const ReadyChannel&) = delete;
  ReadyChannel& operator=(const ReadyChannel&) = delete;

  int childEnd() const { return writeFd_; }
  // Once the child is started: from now on only the child holds the writing end.
  void closeChildEnd();
  // Waits up to timeoutMs for a whole line (without its newline) or the end of the pipe.
  Outcome waitLine(int timeoutMs, std::string& line);

  // In the child: sends `line` on the inherited descriptor `fd` and closes it.
  static void send(int fd, const std::string& line);

 private:
  int readFd_ = -1;
  int writeFd_ = -1;
  std::string received_;
};

// From now on this process's standard output and error go to `path`, emptied first (a
// regular file, never reached through a link, created 0600). False with the path and reason
// in `error`; the output is then where it was.
bool redirectOutput(const std::string& path, std::string& error);

// Folder of the running executable.
std::string executableDir();
// This process's id.
int currentProcessId();

// Waits, without polling, for Ctrl-C/SIGTERM, for a watched process to end, or for a file to
// grow. Creating it blocks SIGINT and SIGTERM in the calling thread (do it before starting
// threads, so they inherit the mask); they are then only seen through wait().
class EventWaiter {
 public:
  enum class Event { interrupted, childEnded, fileChanged, timeout };

  // `followedFile`: a host path whose growth or creation is reported ("" for none).
  explicit EventWaiter(const std::string& followedFile = "");
  ~EventWaiter();
  EventWaiter(const EventWaiter&) = delete;
  EventWaiter& operator=(const EventWaiter&) = delete;

  // The end of these processes is reported as childEnded (until they are waited for, a
  // process that has ended keeps reporting it). `processes` must outlive the wait.
  Event wait(int timeoutMs, const std::vector<Process*>& processes = {});

  // Stops reporting the followed file. Every line the listener writes wakes a follower, and
  // the writer pays for waking it; a caller that no longer reads the file should not.
  void stopFollowing();

 private:
  int signalFd_ = -1;
  int inotifyFd_ = -1;
  std::string fileName_;
};

}  // namespace ce
