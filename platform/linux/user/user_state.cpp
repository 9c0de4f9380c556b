// The windowing core's process-wide state: creation, the test reset, what a forked child
// keeps of it (nothing) and what normal exit removes from run/.
#include "platform/linux/user/user_state.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/kernel/case_locale.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/testing.h"
#include "platform/linux/user/close_signals.h"

namespace ce::user {

namespace {

State* instance = nullptr;

// Forgets everything without a WM_DESTROY. `keepFiles`: the files in run/ belong to another
// process (the parent of a fork), so only our descriptors go.
void clearLocked(State& s, bool keepFiles) {
  restoreCloseSignals();
  if (keepFiles)
    for (auto& [handle, window] : s.windows) window.entry.abandon();
  s.windows.clear();
  s.classes.clear();
  s.nextAtom = 0xC000;
  s.queue.clear();
  s.queuePeak = 0;
  s.quitPending = false;
  s.quitCode = 0;
  s.quitTaken = false;
  s.sources.clear();
  s.socket.close(keepFiles);
  s.wakeup.reset();
  s.waiting = false;
  s.senderUser = -1;
  s.stateReporter = nullptr;
}

void resetForTests() {
  {
    std::lock_guard<std::mutex> lock(instance->mutex);
    clearLocked(*instance, false);
  }
  forgetConnections();
}

void lockStateForFork() { instance->mutex.lock(); }
void unlockStateInParent() { instance->mutex.unlock(); }
// A forked child is a new process of the device: it owns no window, class or message yet.
void startStateOverInChild() {
  clearLocked(*instance, true);
  instance->pid = static_cast<int>(getpid());
  instance->mutex.unlock();
}

// Normal exit takes the process's windows and socket out of run/. A thread that still holds
// the lock at exit wins: its files stay, and are skipped as stale by everyone else.
void removeFilesAtExit() {
  if (!instance->mutex.try_lock()) return;
  restoreCloseSignals();
  instance->windows.clear();
  instance->socket.close();
  instance->mutex.unlock();
}

}  // namespace

State& state() {
  static State* created = [] {
    instance = new State;  // never freed: window procedures may still run during exit
    instance->pid = static_cast<int>(getpid());
    ce::addResetHook(resetForTests);
    pthread_atfork(lockStateForFork, unlockStateInParent, startStateOverInChild);
    std::atexit(removeFilesAtExit);
    return instance;
  }();
  return *created;
}

int wakeupDescriptor(State& s) {
  if (!s.wakeup.valid()) s.wakeup.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  return s.wakeup.get();
}

void releaseWhenWindowless(State& s) {
  if (!s.windows.empty()) return;
  restoreCloseSignals();
  s.socket.close();
}

DWORD tickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                            static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

// C.UTF-8's lower case, taken from a locale of its own: no process of the device depends on
// setting one for the whole process first.
std::wstring foldCase(const std::wstring& text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) c = ce::lowerCase(c);
  return folded;
}

bool sameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && foldCase(a) == foldCase(b);
}

uid_t acceptedSenderLocked(const State& s) {
  return s.senderUser >= 0 ? static_cast<uid_t>(s.senderUser) : getuid();
}

void wakeWaiterLocked(State& s) {
  if (!s.waiting || !s.wakeup.valid()) return;
  uint64_t one = 1;
  ssize_t ignored = write(s.wakeup.get(), &one, sizeof one);
  (void)ignored;
}

void enqueueLocked(State& s, const MSG& message) {
  s.queue.push_back(message);
  s.queuePeak = std::max(s.queuePeak, s.queue.size());
  wakeWaiterLocked(s);
}

}  // namespace ce::user

namespace ce::testing {

void acceptMessagesFromUser(long long uid) {
  ce::user::State& s = ce::user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.senderUser = uid < 0 ? -1 : uid;
}

}  // namespace ce::testing
