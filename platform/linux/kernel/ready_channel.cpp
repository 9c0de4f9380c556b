// A pipe from a starting child to its starter, for one line of readiness.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "platform/linux/process.h"

namespace ce {

ReadyChannel::ReadyChannel() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0)
    throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
  readFd_ = ends[0];
  writeFd_ = ends[1];
}

ReadyChannel::~ReadyChannel() {
  if (readFd_ >= 0) close(readFd_);
  closeChildEnd();
}

void ReadyChannel::closeChildEnd() {
  if (writeFd_ >= 0) close(writeFd_);
  writeFd_ = -1;
}

ReadyChannel::Outcome ReadyChannel::waitLine(int timeoutMs, std::string& line) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (size_t end = received_.find('\n'); end != std::string::npos) {
      line = received_.substr(0, end);
      received_.erase(0, end + 1);
      return Outcome::line;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd readable{readFd_, POLLIN, 0};
    int ready = poll(&readable, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return Outcome::timeout;
    char buffer[512];
    ssize_t got = read(readFd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      line = received_;
      received_.clear();
      return Outcome::closed;
    }
    received_.append(buffer, static_cast<size_t>(got));
  }
}

void ReadyChannel::send(int fd, const std::string& line) {
  if (fd < 0) return;
  // A starter that stopped waiting must cost this process its message, not its life.
  signal(SIGPIPE, SIG_IGN);
  std::string text = line + "\n";
  const char* next = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;  // the starter is gone: nobody to tell
    next += written;
    left -= static_cast<size_t>(written);
  }
  close(fd);
}

}  // namespace ce
