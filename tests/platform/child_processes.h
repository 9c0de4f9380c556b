// Forked child processes for the tests: one run to its end, several released at once, or one
// kept while the test goes on, and a pipe to signal it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace ce::test {

// A forked child that ends with `body`'s result; its pid.
inline pid_t spawn(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// Waits for `pid`; its exit code, 128 + the signal that killed it, or -1.
inline int exitCodeOf(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int exitCodeInChild(const std::function<int()>& body) { return exitCodeOf(spawn(body)); }

// Runs body(0) .. body(count - 1), each in its own process, all released at the same moment;
// true when every one exited 0.
inline bool allAtOnce(int count, const std::function<int(int)>& body) {
  int gate[2];
  if (pipe(gate) != 0) return false;
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i)
    children.push_back(spawn([&, i] {
      close(gate[1]);
      char byte;
      return read(gate[0], &byte, 1) == 0 ? body(i) : 99;  // end of file: the gate opened
    }));
  close(gate[0]);
  close(gate[1]);
  bool ok = true;
  for (pid_t child : children) ok = exitCodeOf(child) == 0 && ok;
  return ok;
}

// A forked child whose exit code is body's result; killed if the test leaves it running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int()>& body) : pid_(ce::test::spawn(body)) {}
  ~ChildProcess() {
    if (code_ >= 0) return;
    kill(pid_, SIGKILL);
    wait();
  }
  pid_t pid() const { return pid_; }
  bool exited() {
    int status;
    if (code_ < 0 && waitpid(pid_, &status, WNOHANG) == pid_)
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return code_ >= 0;
  }
  // Exit code, or 128 + the signal that ended it.
  int wait() {
    if (code_ < 0) code_ = ce::test::exitCodeOf(pid_);
    return code_;
  }

 private:
  pid_t pid_;
  int code_ = -1;
};

// A one-way pipe between parent and child, for "ready" signals and small values.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Pipe() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  template <typename T>
  void send(const T& value) {
    ssize_t ignored = write(fds_[1], &value, sizeof value);
    (void)ignored;
  }
  // False when nothing came within the deadline.
  template <typename T>
  bool receive(T& value, int deadlineMs = 10000) {
    pollfd p{fds_[0], POLLIN, 0};
    if (poll(&p, 1, deadlineMs) != 1) return false;
    return read(fds_[0], &value, sizeof value) == static_cast<ssize_t>(sizeof value);
  }
  // Blocks until the other side writes or every writer is gone.
  void block() {
    char c;
    ssize_t ignored = read(fds_[0], &c, 1);
    (void)ignored;
  }

 private:
  int fds_[2];
};

}  // namespace ce::test
