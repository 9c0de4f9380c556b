// Starting programs and knowing them again: every process is held through a pidfd.
//
// A pid on its own names whoever has it now. The device tool keeps its processes in run/
// across its own runs, and a device that died leaves those records behind, so a record holds
// the pid with the process's start time, and a process is acted on only through a pidfd
// opened while that start time still matches. A pidfd stays bound to its process: a signal
// sent through it cannot reach a process that took the pid over later, and it becomes
// readable when the process ends, so waiting is one poll and never a loop of sleeps.
//
// Children are started with fork and execve rather than posix_spawn, because asking for a
// signal at the death of the starter (PR_SET_PDEATHSIG) has to happen in the child. Until
// the exec the child only makes system calls that are safe after a fork.
#include "platform/linux/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/kernel/private_files.h"
#include "platform/linux/kernel/unique_fd.h"

extern char** environ;

namespace ce {

namespace {

using ce::kernel::UniqueFd;

// glibc 2.36 declares pidfd_open without C linkage, so C++ cannot link against it.
int openPidfd(int pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

int sendThroughPidfd(int fd, int signalNumber) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, fd, signalNumber, nullptr, 0));
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// The caller's environment with `overrides` replacing variables of the same name.
std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string variable = *entry;
    std::string name = variable.substr(0, variable.find('='));
    bool replaced = std::any_of(overrides.begin(), overrides.end(),
                                [&](const auto& override) { return override.first == name; });
    if (!replaced) variables.push_back(std::move(variable));
  }
  for (const auto& [name, value] : overrides) variables.push_back(name + "=" + value);
  return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Makes `fd` the child's descriptor `target`, open across the exec.
void placeDescriptor(int fd, int target) {
  if (fd == target) fcntl(fd, F_SETFD, 0);
  else dup2(fd, target);
}

// Closes every descriptor from 3 up except the kept ones (sorted).
void closeAllBut(const std::vector<int>& kept) {
  unsigned from = 3;
  for (int fd : kept) {
    fcntl(fd, F_SETFD, 0);
    if (static_cast<unsigned>(fd) > from) close_range(from, static_cast<unsigned>(fd) - 1, 0);
    from = static_cast<unsigned>(fd) + 1;
  }
  close_range(from, UINT_MAX, 0);
}

// In the child, between fork and exec; reports a failed exec's errno on `report`, which
// `kept` (sorted) includes.
[[noreturn]] void becomeProgram(const SpawnOptions& options, pid_t starter, int input, int output,
                                const std::vector<int>& kept, int report, char* const* argv,
                                char* const* envp) {
  if (options.endWithStarter) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The starter may have gone before the request was made: nothing would signal then.
    if (getppid() != starter) _exit(128 + SIGTERM);
  }
  for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
    if (signalNumber == SIGKILL || signalNumber == SIGSTOP) continue;
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(signalNumber, &byDefault, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (options.newSession) setsid();
  else if (options.ownProcessGroup) setpgid(0, 0);
  placeDescriptor(input, 0);
  if (output >= 0) {
    placeDescriptor(output, 1);
    placeDescriptor(output, 2);
  }
  closeAllBut(kept);
  fcntl(report, F_SETFD, FD_CLOEXEC);
  execve(argv[0], argv, envp);
  int error = errno;
  (void)!write(report, &error, sizeof error);
  _exit(127);
}

}  // namespace

std::optional<ProcessIdentity> ProcessIdentity::of(int pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // The name in parentheses may hold anything, spaces and ')' included: fields resume after
  // the last ')'. The start time is field 22, the 20th after the name.
  size_t close = line.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 0; i < 19 && fields >> field; ++i) {
  }
  ProcessIdentity identity{pid, 0};
  if (!(fields >> identity.startTime)) return std::nullopt;
  return identity;
}

std::optional<ProcessIdentity> ProcessIdentity::parse(const std::string& text) {
  std::istringstream in(text);
  ProcessIdentity identity;
  std::string rest;
  if (!(in >> identity.pid >> identity.startTime) || identity.pid <= 0 || (in >> rest))
    return std::nullopt;
  return identity;
}

std::string ProcessIdentity::text() const {
  return std::to_string(pid) + " " + std::to_string(startTime);
}

Process::~Process() { reset(); }

Process::Process(Process&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      pid_(other.pid_),
      startTime_(other.startTime_),
      child_(other.child_),
      exitCode_(other.exitCode_) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    pid_ = other.pid_;
    startTime_ = other.startTime_;
    child_ = other.child_;
    exitCode_ = other.exitCode_;
  }
  return *this;
}

void Process::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Process Process::start(const SpawnOptions& options, std::string& error) {
  if (options.argv.empty()) {
    error = "no program";
    return {};
  }
  for (int fd : options.keptDescriptors)
    if (fd <= 2 || fcntl(fd, F_GETFD) < 0) {
      error = "descriptor " + std::to_string(fd) + " cannot be passed on";
      return {};
    }
  UniqueFd output;
  if (!options.outputPath.empty()) {
    int flags = O_WRONLY | O_CREAT | (options.freshOutput ? O_TRUNC : O_APPEND);
    output.reset(ce::kernel::openPrivate(options.outputPath, flags));
    if (!output.valid()) {
      error = options.outputPath + ": " + ce::kernel::privateOpenError(errno);
      return {};
    }
  }
  if (options.discardOutput) output.reset(open("/dev/null", O_WRONLY | O_CLOEXEC));
  int outputFd = output.valid() ? output.get() : options.outputDescriptor;
  UniqueFd input(open("/dev/null", O_RDONLY | O_CLOEXEC));
  int reportEnds[2];
  if (!input.valid() || pipe2(reportEnds, O_CLOEXEC) != 0) {
    error = std::string("cannot prepare the start: ") + std::strerror(errno);
    return {};
  }
  UniqueFd reportRead(reportEnds[0]), reportWrite(reportEnds[1]);

  std::vector<std::string> arguments = options.argv;
  std::vector<char*> argv = pointersTo(arguments);
  std::vector<std::string> variables = environmentWith(options.environment);
  std::vector<char*> envp = pointersTo(variables);
  // Built here: a child of a process with threads must not allocate.
  std::vector<int> kept = options.keptDescriptors;
  kept.push_back(reportWrite.get());
  std::sort(kept.begin(), kept.end());

  pid_t starter = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return {};
  }
  if (pid == 0)
    becomeProgram(options, starter, input.get(), outputFd, kept, reportWrite.get(), argv.data(),
                  envp.data());

  reportWrite.reset();
  // The child is not reaped yet, so its pid cannot name anyone else while these are taken.
  Process process(openPidfd(pid), pid, 0, true);
  if (auto identity = ProcessIdentity::of(pid)) process.startTime_ = identity->startTime;
  int execError = 0;
  ssize_t got;
  do got = read(reportRead.get(), &execError, sizeof execError);
  while (got < 0 && errno == EINTR);
  if (got > 0 || !process.valid()) {
    error = std::strerror(got > 0 ? execError : errno);
    if (!process.valid()) ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return {};
  }
  return process;
}

Process Process::find(const ProcessIdentity& identity) {
  int fd = openPidfd(identity.pid);
  if (fd < 0) return {};
  Process process(fd, identity.pid, identity.startTime, false);
  // Checked after the pidfd is open: a match now means the pidfd holds that very process.
  auto now = ProcessIdentity::of(identity.pid);
  if (!now || now->startTime != identity.startTime || process.ended()) return {};
  return process;
}

bool Process::waitForEnd(int timeoutMs) {
  if (!valid() || exitCode_ >= 0) return true;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    int left = -1;
    if (timeoutMs >= 0)
      left = static_cast<int>(std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
    pollfd end{fd_, POLLIN, 0};
    int ready = poll(&end, 1, left);
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return false;
  }
  if (child_) {
    int status = 0;
    pid_t done;
    do done = waitpid(pid_, &status, 0);
    while (done < 0 && errno == EINTR);
    if (done == pid_) exitCode_ = exitCodeOf(status);
    child_ = false;  // reaped, or someone else's to reap: never wait on the pid again
  }
  return true;
}

bool Process::signal(int signalNumber) {
  if (!valid() || ended()) return false;
  return sendThroughPidfd(fd_, signalNumber) == 0;
}

bool Process::terminate() { return signal(SIGTERM); }

bool Process::kill() { return signal(SIGKILL); }

bool redirectOutput(const std::string& path, std::string& error) {
  UniqueFd file(ce::kernel::openPrivate(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND));
  if (!file.valid()) {
    error = path + ": " + ce::kernel::privateOpenError(errno);
    return false;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  if (dup2(file.get(), 1) < 0 || dup2(file.get(), 2) < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string executableDir() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

int currentProcessId() { return getpid(); }

}  // namespace ce
