// Helpers for the windowing tests: a message loop that cannot hang and child processes whose
// exit the loop notices.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/user/message_sources.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace ce::test {

// wParam of the thread message that wakes a loop whose deadline has passed.
inline constexpr WPARAM kDeadlineMark = 0xDEAD11E;

// Runs GetMessageW/DispatchMessageW until `done` holds or `deadline` passes; true when it held.
// A watchdog thread posts a thread message at the deadline, so the loop never blocks past it.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, deadline, [&] { return finished; }))
      PostMessageW(nullptr, WM_NULL, kDeadlineMark, 0);
  });
  MSG message;
  while (!done()) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    if (!message.hwnd && message.message == WM_NULL && message.wParam == kDeadlineMark) break;
    DispatchMessageW(&message);
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  changed.notify_all();
  watchdog.join();
  return done();
}

// A forked child running `body`; its exit code is body's result. While it lives it is also a
// message source, so a loop waiting on a child that died early wakes up instead of hanging.
class ChildProcess : public ce::MessageSource {
 public:
  explicit ChildProcess(const std::function<int()>& body) {
    pid_ = fork();
    if (pid_ == 0) {
      int code = 100;
      try {
        code = body();
      } catch (...) {
      }
      _exit(code);
    }
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    ce::addMessageSource(this);
  }
  ~ChildProcess() override {
    ce::removeMessageSource(this);
    if (!reaped_) {
      kill(pid_, SIGKILL);
      wait();
    }
    if (pidfd_ >= 0) close(pidfd_);
  }

  pid_t pid() const { return pid_; }
  bool exited() { return reapIf(WNOHANG); }
  // Waits for the end; exit code, or 128 + signal.
  int wait() {
    reapIf(0);
    return code_;
  }

  int descriptor() const override { return pidfd_; }
  void drain() override {
    // Only report; the loop's condition asks exited().
    if (!reported_ && exited()) {
      reported_ = true;
      PostMessageW(nullptr, WM_NULL, 0, 0);
    }
  }

 private:
  bool reapIf(int options) {
    int status;
    if (!reaped_ && waitpid(pid_, &status, options) == pid_) {
      reaped_ = true;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      ce::removeMessageSource(this);
    }
    return reaped_;
  }

  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool reaped_ = false;
  bool reported_ = false;
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

inline size_t countOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

}  // namespace ce::test
