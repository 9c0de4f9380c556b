// The close signals. The handler does only what is async-signal-safe: it sets a flag and
// writes to an eventfd; the message loop, woken by that write, posts the WM_CLOSE.
#include "platform/linux/user/close_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace ce::user {

namespace {

volatile sig_atomic_t closeRequested = 0;
std::atomic<int> wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

bool installed = false;
struct sigaction previousTerm;
struct sigaction previousInt;

void onCloseSignal(int) {
  int saved = errno;
  closeRequested = 1;
  int fd = wakeFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof one);
    (void)ignored;
  }
  errno = saved;
}

}  // namespace

void installCloseSignals(int wakeDescriptor) {
  wakeFd.store(wakeDescriptor, std::memory_order_relaxed);
  if (installed) return;
  struct sigaction action {};
  action.sa_handler = onCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, &previousTerm);
  sigaction(SIGINT, &action, &previousInt);
  installed = true;
}

void restoreCloseSignals() {
  if (installed) {
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    installed = false;
  }
  wakeFd.store(-1, std::memory_order_relaxed);
  closeRequested = 0;
}

bool takeCloseRequest() {
  if (!closeRequested) return false;
  closeRequested = 0;
  return true;
}

}  // namespace ce::user
