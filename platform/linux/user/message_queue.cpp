// The message queue and the loop's wait.
//
// The process has one queue, served to whichever thread calls GetMessageW (the listener has
// one thread). GetMessageW looks, in this order: close signals, the queue, message sources,
// the queue again, the quit flag, the process's socket; only when all are empty does it block,
// in one poll on the eventfd, the socket and every source's descriptor. Datagrams are taken
// from the socket only when the queue is empty, and at most kMaxQueued at a time, so a flood
// from another process meets the poster's bounded wait instead of growing our memory without
// end.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/user/close_signals.h"
#include "platform/linux/user/pointer_messages.h"
#include "platform/linux/user/user_state.h"

using namespace ce::user;

namespace {

constexpr size_t kMaxQueued = 10000;

// A burst leaves its messages' memory (and the file records they carry) to the allocator,
// which keeps it while anything allocated later sits above it. Once the queue has been this
// long, the loop gives the free memory back before it sleeps: the cost comes once per burst,
// never per message.
constexpr size_t kBacklogWorthTrimming = 256;

bool burstEndedLocked(State& s) {
  if (s.queuePeak < kBacklogWorthTrimming) return false;
  s.queuePeak = 0;
  // The deque's index of blocks stays as long as the backlog needed, until it starts afresh.
  if (s.queue.empty()) std::deque<MSG>().swap(s.queue);
  return true;
}

bool matches(const MSG& m, HWND filter, UINT first, UINT last) {
  // (HWND)-1 asks for thread messages only, as on the device.
  if (filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) {
    if (m.hwnd) return false;
  } else if (filter && m.hwnd != filter) {
    return false;
  }
  return (first == 0 && last == 0) || (m.message >= first && m.message <= last);
}

bool takeLocked(State& s, MSG* out, HWND filter, UINT first, UINT last, bool remove) {
  for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
    if (!matches(*it, filter, first, last)) continue;
    *out = *it;
    if (remove) s.queue.erase(it);
    return true;
  }
  return false;
}

void postCloseToFirstWindow(State& s) {
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.windows.empty()) return;
  enqueueLocked(s, MSG{handleOf(s.windows.begin()->first), WM_CLOSE, 0, 0, tickCount(), {0, 0}});
}

void drainSources(State& s) {
  // By index under the lock, without a copy: this runs on every GetMessageW. A source removed
  // during a drain shifts the rest; one may then wait for the next call, which comes at once.
  for (size_t i = 0;; ++i) {
    ce::MessageSource* source;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (i >= s.sources.size()) return;
      source = s.sources[i];
    }
    source->drain();
  }
}

size_t receiveLocked(State& s) {
  if (!s.socket.isOpen() || s.queue.size() >= kMaxQueued) return 0;
  auto deliver = [&s](const WindowMessageDatagram& d) {
    // A window destroyed while its message travelled: the message goes with it.
    if (ownerOf(d.hwnd) != s.pid || !s.windows.count(d.hwnd)) return;
    enqueueLocked(s, MSG{handleOf(d.hwnd), d.message, static_cast<WPARAM>(d.wParam),
                         static_cast<LPARAM>(d.lParam), d.time, {0, 0}});
  };
  auto state = [&s]() -> std::optional<std::string> {
    if (!s.stateReporter) return std::nullopt;
    return s.stateReporter();
  };
  return s.socket.receive(kMaxQueued - s.queue.size(), acceptedSenderLocked(s), deliver, state);
}

bool validFilter(State& s, HWND filter) {
  if (!filter || filter == reinterpret_cast<HWND>(static_cast<intptr_t>(-1))) return true;
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.windows.count(handleValue(filter)) != 0;
}

bool retrieve(MSG* out, HWND filter, UINT first, UINT last, bool remove, bool block) {
  State& s = state();
  for (;;) {
    if (takeCloseRequest()) postCloseToFirstWindow(s);
    // The sources are read when the queue has nothing to give: what they add goes behind what
    // is queued either way, and a burst already queued then costs no empty read per message.
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (takeLocked(s, out, filter, first, last, remove)) return true;
    }
    drainSources(s);
    std::vector<pollfd> waitOn;
    std::vector<ce::MessageSource*> sources;
    bool trim = false;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      if (takeLocked(s, out, filter, first, last, remove)) return true;
      if (s.quitPending) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0, tickCount(), {0, 0}};
        if (remove) s.quitPending = false;
        return true;
      }
      if (receiveLocked(s) > 0) continue;
      if (!block) return false;
      trim = burstEndedLocked(s);
      waitOn.push_back(pollfd{wakeupDescriptor(s), POLLIN, 0});
      // A socket we will not read (the queue is full of what a filter skips) must not wake us.
      if (s.socket.isOpen() && s.queue.size() < kMaxQueued)
        waitOn.push_back(pollfd{s.socket.descriptor(), POLLIN, 0});
      sources = s.sources;
      s.waiting = true;
    }
    if (trim) ce::trimIdleMemory();
    int timeout = -1;
    for (ce::MessageSource* source : sources) {
      waitOn.push_back(pollfd{source->descriptor(), POLLIN, 0});
      int pending = source->pendingTimeoutMs();
      if (pending >= 0 && (timeout < 0 || pending < timeout)) timeout = pending;
    }
    poll(waitOn.data(), waitOn.size(), timeout);
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.waiting = false;
    }
    if (waitOn[0].revents & POLLIN) {
      uint64_t count;
      ssize_t ignored = read(waitOn[0].fd, &count, sizeof count);
      (void)ignored;
    }
  }
}

}  // namespace

BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  long long forced;
  if (ce::failPointHit("GetMessageW", forced)) return static_cast<BOOL>(forced);
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!validFilter(state(), window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  retrieve(message, window, filterMin, filterMax, true, true);
  if (message->message != WM_QUIT) return TRUE;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.quitTaken = true;
  return FALSE;
}

BOOL PeekMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax,
                  UINT removeFlags) {
  long long forced;
  if (ce::failPointHit("PeekMessageW", forced)) return static_cast<BOOL>(forced);
  if (!message) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!validFilter(state(), window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return retrieve(message, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, false)
             ? TRUE
             : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  long long forced;
  if (ce::failPointHit("PostMessageW", forced)) return static_cast<BOOL>(forced);
  State& s = state();
  const uint64_t handle = handleValue(window);
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    // No window: a message for the thread itself, as on the device.
    if (!window || ownerOf(handle) == s.pid) {
      if (window && !s.windows.count(handle)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      enqueueLocked(s, MSG{window, message, wParam, lParam, tickCount(), {0, 0}});
      return TRUE;
    }
  }
  // An address means nothing in the other process (pointer_messages.h).
  if (carriesPointer(message)) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return FALSE;
  }
  WindowMessageDatagram datagram{};
  datagram.magic = kDatagramMagic;
  datagram.version = kDatagramVersion;
  datagram.hwnd = handle;
  datagram.message = message;
  datagram.time = tickCount();
  datagram.wParam = static_cast<uint64_t>(wParam);
  datagram.lParam = static_cast<int64_t>(lParam);
  DWORD result = sendToOwner(datagram);
  if (result != ERROR_SUCCESS) {
    SetLastError(result);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.quitPending = true;
  s.quitCode = exitCode;
  wakeWaiterLocked(s);
}

namespace ce {

void addMessageSource(MessageSource* source) {
  State& s = user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!source || std::find(s.sources.begin(), s.sources.end(), source) != s.sources.end())
    return;
  s.sources.push_back(source);
  // A loop already waiting must start polling the new descriptor.
  wakeWaiterLocked(s);
}

void removeMessageSource(MessageSource* source) {
  State& s = user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sources.erase(std::remove(s.sources.begin(), s.sources.end(), source), s.sources.end());
}

}  // namespace ce
