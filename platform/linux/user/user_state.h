// The process-wide state of the windowing core, shared by its files. Platform-internal.
//
// One mutex guards the classes, windows and the queue. Window procedures and message sources
// are always called without it, so they may call back into any function of this family.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/user/message_sources.h"
#include "platform/linux/user/process_socket.h"
#include "platform/linux/user/unique_fd.h"
#include "platform/linux/user/user.h"
#include "platform/linux/user/window_files.h"

namespace ce::user {

struct WindowClass {
  std::wstring name;  // as registered
  ATOM atom = 0;
  WNDPROC procedure = nullptr;
  HINSTANCE instance = nullptr;
  int windows = 0;
};

struct Window {
  std::wstring classKey;  // key of its class in State::classes
  WNDPROC procedure = nullptr;
  bool destroying = false;
  PublishedWindow entry;
};

struct State {
  std::mutex mutex;
  int pid = 0;
  std::map<std::wstring, WindowClass> classes;  // by folded name
  ATOM nextAtom = 0xC000;
  std::map<uint64_t, Window> windows;  // by handle, which is also creation order here
  std::deque<MSG> queue;
  size_t queuePeak = 0;  // the longest the queue has been since memory was last given back
  bool quitPending = false;
  int quitCode = 0;
  bool quitTaken = false;  // GetMessageW has returned a WM_QUIT
  std::vector<MessageSource*> sources;
  UniqueFd wakeup;       // eventfd: posts from other threads and close signals
  bool waiting = false;  // a thread is in poll and needs the eventfd to wake
  ReceiveSocket socket;  // open while the process has had a window
  long long senderUser = -1;  // whose datagrams are accepted when a test says; -1: our own
  std::function<std::string()> stateReporter;  // answers state queries; empty: none
};

// The state, created on first use (which also registers the reset hook).
State& state();

// Lazily made eventfd; -1 when the system refuses one. Caller holds the mutex.
int wakeupDescriptor(State& s);
// Closes the process's socket when it no longer has windows and restores the close signals.
// Caller holds the mutex.
void releaseWhenWindowless(State& s);

inline uint64_t handleValue(HWND window) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
}
inline HWND handleOf(uint64_t value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }
inline int ownerOf(uint64_t handle) { return static_cast<int>(handle >> 32); }

// Milliseconds of the monotonic clock, which every process of the machine shares.
DWORD tickCount();
// Class names and titles compare without regard to case.
std::wstring foldCase(const std::wstring& text);
bool sameTextIgnoringCase(const std::wstring& a, const std::wstring& b);

// The user whose datagrams the socket accepts. Caller holds the mutex.
uid_t acceptedSenderLocked(const State& s);

// Wakes a thread waiting in GetMessageW. Caller holds the mutex.
void wakeWaiterLocked(State& s);
// Queues a message for a window of this process (or a thread message when hwnd is 0), waking
// a waiting GetMessageW. Caller holds the mutex.
void enqueueLocked(State& s, const MSG& message);

// The class registered under this name or atom, or null; `key` receives its key in
// State::classes. Caller holds the mutex.
WindowClass* findClassLocked(State& s, LPCWSTR nameOrAtom, std::wstring* key = nullptr);
// Stops every timer of a window (DestroyWindow). Takes the timers' lock, then the state's:
// call it without the state's mutex.
void stopTimersOfWindow(HWND window);

// Forgets a window without a WM_DESTROY: its file, its class count and its queued messages.
// Caller holds the mutex.
void removeWindowLocked(State& s, uint64_t handle);

}  // namespace ce::user
