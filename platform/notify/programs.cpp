// Starting due programs and reaping them.
//
// A program is spawned, never waited for: the scheduler keeps its pid with a pidfd that
// becomes readable when it ends, so the change watcher's poll wakes to reap it and no zombies
// pile up however long the scheduler sleeps. Only pids the scheduler started are waited for;
// other children of the same process (the device tool's listener) are left to their owner.
//
// Started programs run in a process group of their own: Ctrl-C aimed at the scheduler in a
// terminal must not kill a synchronisation that is under way.
#include "platform/notify/programs.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/kernel/platform_state.h"
#include "platform/notify.h"

extern char** environ;

namespace ce::notify {

namespace {

struct Program {
  pid_t pid;
  int endFd;  // pidfd, or -1 when the kernel offers none (then reaped at the next pass)
};

std::mutex programsMutex;
std::vector<Program> programs;

// Owns one descriptor; close is never retried (Linux frees it even on EINTR).
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

std::string narrow(const std::wstring& text) {
  std::string bytes;
  return ce::narrowFileName(text, bytes) ? bytes : std::string("?");
}

void reportNotStarted(const Request& request, const std::string& reason) {
  std::fprintf(stderr, "scheduler: cannot start %s: %s; request dropped\n",
               narrow(request.app).c_str(), reason.c_str());
  std::fflush(stderr);
}

// Why the host file cannot be started, or "" when it looks startable.
std::string whyNotStartable(const std::string& hostPath) {
  struct stat info;
  if (stat(hostPath.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "not a file";
  if (access(hostPath.c_str(), X_OK) != 0) return "not executable";
  return "";
}

// The program's environment: ours, with CE_DEVICE_HOME naming this device.
std::vector<std::string> programEnvironment(const std::string& home) {
  std::vector<std::string> variables;
  for (char** entry = environ; entry && *entry; ++entry)
    if (std::strncmp(*entry, "CE_DEVICE_HOME=", 15) != 0) variables.emplace_back(*entry);
  variables.push_back("CE_DEVICE_HOME=" + home);
  return variables;
}

// glibc 2.36 declares pidfd_open without C linkage, so C++ cannot link against it.
int openPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

std::string fileNameOf(const std::string& hostPath) {
  return hostPath.substr(hostPath.find_last_of('/') + 1);
}

void resetPrograms() {
  std::lock_guard<std::mutex> lock(programsMutex);
  for (const Program& program : programs) {
    waitpid(program.pid, nullptr, WNOHANG);
    if (program.endFd >= 0) ::close(program.endFd);
  }
  programs.clear();
}

[[maybe_unused]] const bool resetHookAdded = (ce::addResetHook(&resetPrograms), true);

}  // namespace

std::optional<DWORD> startProgram(const Request& request) {
  std::string hostPath, home;
  try {
    home = ce::deviceHome();
    if (!ce::hostPathOf(request.app.c_str(), hostPath)) {
      reportNotStarted(request, "not a valid device path");
      return std::nullopt;
    }
  } catch (const std::exception& e) {
    reportNotStarted(request, e.what());
    return std::nullopt;
  }
  if (std::string reason = whyNotStartable(hostPath); !reason.empty()) {
    reportNotStarted(request, reason);
    return std::nullopt;
  }

  std::string outPath = home + "/run/" + fileNameOf(hostPath) + ".out";
  Descriptor output(open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (output.get() < 0) {
    // The start matters more than its output.
    std::fprintf(stderr, "scheduler: cannot open %s: %s; output of %s discarded\n",
                 outPath.c_str(), std::strerror(errno), narrow(request.app).c_str());
  }
  Descriptor nothing(open("/dev/null", O_RDWR | O_CLOEXEC));
  int outFd = output.get() >= 0 ? output.get() : nothing.get();

  SpawnSetup setup;
  posix_spawn_file_actions_adddup2(&setup.actions, nothing.get(), 0);
  posix_spawn_file_actions_adddup2(&setup.actions, outFd, 1);
  posix_spawn_file_actions_adddup2(&setup.actions, outFd, 2);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  std::vector<std::string> variables = programEnvironment(home);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);
  char* arguments[] = {hostPath.data(), nullptr};

  pid_t pid;
  int error = posix_spawn(&pid, hostPath.c_str(), &setup.actions, &setup.attributes, arguments,
                          environment.data());
  if (error != 0) {
    reportNotStarted(request, std::strerror(error));
    return std::nullopt;
  }
  // The pid cannot be reused before we reap it, so opening its pidfd now is race-free.
  int endFd = openPidfd(pid);
  std::lock_guard<std::mutex> lock(programsMutex);
  programs.push_back(Program{pid, endFd});
  return static_cast<DWORD>(pid);
}

size_t reapPrograms() {
  std::lock_guard<std::mutex> lock(programsMutex);
  std::erase_if(programs, [](const Program& program) {
    pid_t result = waitpid(program.pid, nullptr, WNOHANG);
    if (result == 0 || (result < 0 && errno == EINTR)) return false;
    // Ended, or not ours to wait for any more (SIGCHLD ignored by the host process).
    if (program.endFd >= 0) ::close(program.endFd);
    return true;
  });
  return programs.size();
}

std::vector<int> programEndDescriptors() {
  std::lock_guard<std::mutex> lock(programsMutex);
  std::vector<int> descriptors;
  for (const Program& program : programs)
    if (program.endFd >= 0) descriptors.push_back(program.endFd);
  return descriptors;
}

}  // namespace ce::notify
