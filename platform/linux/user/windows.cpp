// Windows: creation, destruction, calls into their procedures, and lookup across processes.
#include <time.h>

#include <algorithm>
#include <atomic>

#include "platform/linux/kernel/platform_state.h"
#include "platform/process_state.h"
#include "platform/linux/user/close_signals.h"
#include "platform/linux/user/user_state.h"
#include "platform/linux/user/window_table.h"

using namespace ce::user;

namespace {

// Never reset, so a handle is not given out twice in a process's life.
std::atomic<uint32_t> nextWindowNumber{1};

uint64_t monotonicNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

// The procedure of a live window of this process, or null.
WNDPROC procedureOf(State& s, HWND window) {
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.windows.find(handleValue(window));
  return it == s.windows.end() ? nullptr : it->second.procedure;
}

bool isForeign(State& s, uint64_t handle) {
  int owner = ownerOf(handle);
  std::lock_guard<std::mutex> lock(s.mutex);
  return owner != s.pid;
}

}  // namespace

namespace ce::user {

void removeWindowLocked(State& s, uint64_t handle) {
  auto it = s.windows.find(handle);
  if (it == s.windows.end()) return;
  auto cls = s.classes.find(it->second.classKey);
  if (cls != s.classes.end()) --cls->second.windows;
  s.windows.erase(it);
  HWND window = handleOf(handle);
  s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(),
                               [window](const MSG& m) { return m.hwnd == window; }),
                s.queue.end());
  releaseWhenWindowless(s);
}

}  // namespace ce::user

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID createParams) {
  long long forced;
  if (ce::failPointHit("CreateWindowExW", forced))
    return reinterpret_cast<HWND>(static_cast<intptr_t>(forced));
  State& s = state();
  uint64_t handle = 0;
  WNDPROC procedure = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    std::wstring key;
    WindowClass* cls = findClassLocked(s, className, &key);
    if (!cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (!s.socket.isOpen()) {
      ce::user::removeLeftoversOf(s.pid);
      if (!s.socket.open(s.pid)) return nullptr;
    }
    handle = static_cast<uint64_t>(static_cast<uint32_t>(s.pid)) << 32 |
             nextWindowNumber.fetch_add(1, std::memory_order_relaxed);
    WindowRecord record{handle, s.pid, monotonicNanoseconds(), cls->name,
                        windowName ? windowName : L""};
    Window window;
    window.classKey = key;
    window.procedure = cls->procedure;
    if (!window.entry.publish(record)) {
      DWORD error = GetLastError();
      releaseWhenWindowless(s);
      SetLastError(error);
      return nullptr;
    }
    ++cls->windows;
    procedure = cls->procedure;
    s.windows.emplace(handle, std::move(window));
    installCloseSignals(wakeupDescriptor(s));
  }
  HWND window = handleOf(handle);
  CREATESTRUCTW create{createParams, instance,           menu, parent,   height, width,
                       y,            x,                  static_cast<LONG>(style),
                       windowName,   className,          exStyle};
  if (procedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    // The procedure refused its window: it never existed for anyone else.
    std::lock_guard<std::mutex> lock(s.mutex);
    removeWindowLocked(s, handle);
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  return window;
}

BOOL DestroyWindow(HWND window) {
  State& s = state();
  const uint64_t handle = handleValue(window);
  WNDPROC procedure = nullptr;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.windows.find(handle);
    if (it != s.windows.end()) {
      // Called again from its own WM_DESTROY: the outer call finishes the job.
      if (it->second.destroying) return TRUE;
      it->second.destroying = true;
      procedure = it->second.procedure;
    }
  }
  if (!procedure) {
    bool foreignLive = window && isForeign(s, handle) && windowIsLive(handle);
    SetLastError(foreignLive ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  procedure(window, WM_DESTROY, 0, 0);
  // Its timers end with it, and their waiting ticks with its other messages.
  stopTimersOfWindow(window);
  std::lock_guard<std::mutex> lock(s.mutex);
  removeWindowLocked(s, handle);
  return TRUE;
}

BOOL IsWindow(HWND window) {
  if (!window) return FALSE;
  State& s = state();
  const uint64_t handle = handleValue(window);
  if (!isForeign(s, handle)) return procedureOf(s, window) ? TRUE : FALSE;
  return windowIsLive(handle) ? TRUE : FALSE;
}

BOOL EndDialog(HWND, INT_PTR) {
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = state();
  if (WNDPROC procedure = procedureOf(s, window))
    return procedure(window, message, wParam, lParam);
  // FIXME: a send to another process would need a reply channel; nothing here sends one.
  bool foreignLive = window && isForeign(s, handleValue(window)) && windowIsLive(handleValue(window));
  SetLastError(foreignLive ? ERROR_NOT_SUPPORTED : ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

LRESULT DispatchMessageW(const MSG* message) {
  if (!message || !message->hwnd) return 0;
  WNDPROC procedure = procedureOf(state(), message->hwnd);
  if (!procedure) return 0;
  return procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

HGDIOBJ GetStockObject(int object) {
  // The device's stock objects; here only their handles exist, one distinct address each.
  static const char objects[DEFAULT_PALETTE + 1] = {};
  bool exists = (object >= WHITE_BRUSH && object <= NULL_PEN) || object == SYSTEM_FONT ||
                object == DEFAULT_PALETTE;
  if (!exists) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return const_cast<char*>(&objects[object]);
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  std::wstring wantedClass;
  if (className && IS_INTRESOURCE(className)) {
    // An atom names a class of this process.
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    WindowClass* cls = findClassLocked(s, className);
    if (!cls) return nullptr;
    wantedClass = cls->name;
  } else if (className) {
    wantedClass = className;
  }
  for (const WindowRecord& record : liveWindows()) {
    if (className && !sameTextIgnoringCase(record.className, wantedClass)) continue;
    if (windowName && !sameTextIgnoringCase(record.title, windowName)) continue;
    return handleOf(record.hwnd);
  }
  return nullptr;
}

namespace ce {

std::vector<WindowInfo> listWindows() {
  std::vector<WindowInfo> windows;
  for (WindowRecord& record : user::liveWindows())
    windows.push_back(WindowInfo{user::handleOf(record.hwnd), record.pid,
                                 std::move(record.className), std::move(record.title)});
  return windows;
}

bool isWindowOfThisProcess(HWND window) {
  return window && ::procedureOf(user::state(), window) != nullptr;
}

void setStateReporter(std::function<std::string()> reporter) {
  user::State& s = user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.stateReporter = std::move(reporter);
}

bool processReachable(int pid) { return user::canReach(pid); }

std::optional<std::string> queryProcessState(int pid, int timeoutMs) {
  return user::queryState(pid, timeoutMs);
}

void removeLeftoversOfDeadProcesses() {
  user::removeDeadWindowFiles();
  user::removeDeadSockets();
}

bool messageLoopQuit() {
  user::State& s = user::state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.quitTaken;
}

}  // namespace ce
