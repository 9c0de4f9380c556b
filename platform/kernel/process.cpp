// Starting and waiting for processes, and the device tool's event wait.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace ce {

int spawnProcess(const SpawnOptions& options, std::string& error) {
  if (options.argv.empty()) {
    error = "no program";
    return -1;
  }
  if (access(options.argv[0].c_str(), X_OK) != 0) {
    error = options.argv[0] + ": " + std::strerror(errno);
    return -1;
  }
  int outputFd = -1;
  if (!options.outputPath.empty()) {
    outputFd = open(options.outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (outputFd < 0) {
      error = options.outputPath + ": " + std::strerror(errno);
      return -1;
    }
  }
  std::vector<char*> argv;
  for (const auto& arg : options.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    if (outputFd >= 0) close(outputFd);
    return -1;
  }
  if (pid == 0) {
    // Only async-signal-safe work until exec.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (options.newSession) setsid();
    else if (options.ownProcessGroup) setpgid(0, 0);
    if (outputFd >= 0) {
      dup2(outputFd, 1);
      dup2(outputFd, 2);
    }
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (outputFd >= 0) close(outputFd);
  return pid;
}

bool processAlive(int pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A zombie child of ours counts as gone.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* stat = std::fopen(path, "re");
  if (!stat) return false;
  char state = 0;
  int scanned = std::fscanf(stat, "%*d (%*[^)]) %c", &state);
  std::fclose(stat);
  return scanned != 1 || state != 'Z';
}

int waitChild(int pid, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      continue;
    }
    if (done < 0 && errno != EINTR) return -1;
    if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(pause);
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

bool terminateProcess(int pid) { return pid > 0 && kill(pid, SIGTERM) == 0; }

std::string executableDir() {
  std::error_code error;
  auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

int currentProcessId() { return getpid(); }

EventWaiter::EventWaiter(const std::string& followedFile) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (!followedFile.empty()) {
    std::filesystem::path path(followedFile);
    fileName_ = path.filename().string();
    inotifyFd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    // The folder is watched, so a file that does not exist yet is seen when it appears.
    if (inotifyFd_ >= 0 &&
        inotify_add_watch(inotifyFd_, path.parent_path().c_str(),
                          IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
      close(inotifyFd_);
      inotifyFd_ = -1;
    }
  }
}

EventWaiter::~EventWaiter() {
  if (signalFd_ >= 0) close(signalFd_);
  if (inotifyFd_ >= 0) close(inotifyFd_);
}

EventWaiter::Event EventWaiter::wait(int timeoutMs) {
  pollfd fds[2];
  nfds_t count = 0;
  if (signalFd_ >= 0) fds[count++] = {signalFd_, POLLIN, 0};
  if (inotifyFd_ >= 0) fds[count++] = {inotifyFd_, POLLIN, 0};
  int ready = poll(fds, count, timeoutMs);
  if (ready <= 0) return Event::timeout;
  Event event = Event::timeout;
  if (inotifyFd_ >= 0 && (fds[count - 1].revents & POLLIN)) {
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(inotifyFd_, buffer, sizeof buffer)) > 0)
      for (char* p = buffer; p < buffer + length;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (e->len && fileName_ == e->name) event = Event::fileChanged;
        p += sizeof(inotify_event) + e->len;
      }
  }
  if (signalFd_ >= 0 && (fds[0].revents & POLLIN)) {
    signalfd_siginfo info;
    while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM) return Event::interrupted;
      event = Event::childEnded;
    }
  }
  return event;
}

}  // namespace ce
