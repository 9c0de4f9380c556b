// Windows, messages and timers: the classes, hidden windows, queue and timers of the listener's
// start-up, message loop and close sequence, on one thread of one process.
#include <chrono>
#include <string>

#include "conformance.h"

using conformance::answer;

namespace {

// The messages a window procedure saw, as names; only those the listener acts on are kept,
// since desktop Windows also sends the non-client and sizing messages the device has not.
std::string seen;

const char* nameOf(UINT message) {
  switch (message) {
    case WM_CREATE: return "create";
    case WM_DESTROY: return "destroy";
    case WM_CLOSE: return "close";
    case WM_TIMER: return "timer";
    case WM_COMMAND: return "command";
    case WM_USER: return "user";
    case WM_USER + 1: return "user+1";
    case WM_APP: return "app";
    default: return nullptr;
  }
}

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const char* name = nameOf(message)) {
    char entry[64];
    std::snprintf(entry, sizeof entry, "%s%s(%lu,%ld)", seen.empty() ? "" : " ", name,
                  static_cast<unsigned long>(wParam), static_cast<long>(lParam));
    if (message == WM_CREATE)
      std::snprintf(entry, sizeof entry, "%screate", seen.empty() ? "" : " ");
    seen += entry;
  }
  if (message == WM_APP) return 42;
  return DefWindowProcW(window, message, wParam, lParam);
}

std::string taken() {
  std::string out = seen.empty() ? "(none)" : seen;
  seen.clear();
  return out;
}

std::string withLastError(long long result) {
  char line[64];
  std::snprintf(line, sizeof line, "%lld err=%lu", result,
                static_cast<unsigned long>(GetLastError()));
  return line;
}

// "message(wParam,lParam) to self|thread|other" of what one call took, or "nothing"
std::string peek(HWND window, UINT first, UINT last, UINT flags, HWND self) {
  MSG message;
  if (!PeekMessageW(&message, window, first, last, flags)) return "nothing";
  char line[96];
  const char* name = nameOf(message.message);
  std::snprintf(line, sizeof line, "%s(%lu,%ld) to %s", name ? name : "other",
                static_cast<unsigned long>(message.wParam), static_cast<long>(message.lParam),
                message.hwnd == self ? "self" : message.hwnd ? "other" : "thread");
  return line;
}

// Drops whatever the queue holds (desktop Windows queues its own messages too).
void drain() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    if (message.message == WM_QUIT) break;
}

// Waits, without taking it, until a WM_TIMER is in the queue; false after five seconds.
bool timerQueued(HWND window) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    MSG message;
    if (PeekMessageW(&message, window, WM_TIMER, WM_TIMER, PM_NOREMOVE)) return true;
  }
  return false;
}

const WCHAR* const kClass = L"ConformanceWindowClass";

void classes(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = recordingProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClass;
  SetLastError(conformance::kSentinel);
  ATOM atom = RegisterClassW(&windowClass);
  answer("RegisterClassW", "%s", atom ? "atom" : withLastError(0).c_str());
  SetLastError(conformance::kSentinel);
  answer("RegisterClassW again", "%s", withLastError(RegisterClassW(&windowClass)).c_str());
  WNDCLASSW upper = windowClass;
  upper.lpszClassName = L"CONFORMANCEWINDOWCLASS";
  SetLastError(conformance::kSentinel);
  answer("RegisterClassW in other case", "%s", withLastError(RegisterClassW(&upper)).c_str());
  SetLastError(conformance::kSentinel);
  answer("UnregisterClassW unknown", "%s",
         withLastError(UnregisterClassW(L"ConformanceNoSuchClass", instance)).c_str());
}

HWND createWindow(HINSTANCE instance, const WCHAR* title) {
  SetLastError(conformance::kSentinel);
  return CreateWindowExW(0, kClass, title, WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

void windowsAndMessages(HINSTANCE instance) {
  HWND window = createWindow(instance, L"conformance window");
  answer("CreateWindowExW", "%s", window ? "window" : withLastError(0).c_str());
  answer("messages of CreateWindowExW", "%s", taken().c_str());
  answer("IsWindow", "%d", IsWindow(window));
  answer("FindWindowW class", "%s",
         FindWindowW(kClass, nullptr) == window ? "our window" : "another");
  answer("FindWindowW class in other case", "%s",
         FindWindowW(L"conformancewindowclass", nullptr) == window ? "our window" : "another");
  SetLastError(conformance::kSentinel);
  answer("FindWindowW unknown class", "%s",
         FindWindowW(L"ConformanceNoSuchClass", nullptr) ? "window" : "null");
  SetLastError(conformance::kSentinel);
  answer("UnregisterClassW while a window lives", "%s",
         withLastError(UnregisterClassW(kClass, instance)).c_str());
  drain();
  taken();

  answer("SendMessageW result", "%ld", static_cast<long>(SendMessageW(window, WM_APP, 5, 6)));
  answer("messages of SendMessageW", "%s", taken().c_str());

  PostMessageW(window, WM_USER, 1, 2);
  PostMessageW(nullptr, WM_USER + 1, 3, 4);
  PostMessageW(window, WM_COMMAND, 5, 6);
  answer("PeekMessageW PM_NOREMOVE", "%s", peek(nullptr, 0, 0, PM_NOREMOVE, window).c_str());
  answer("PeekMessageW filtered to WM_COMMAND", "%s",
         peek(nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE, window).c_str());
  answer("PeekMessageW thread messages only", "%s",
         peek(reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0, PM_REMOVE, window).c_str());
  answer("PeekMessageW next", "%s", peek(nullptr, 0, 0, PM_REMOVE, window).c_str());
  answer("PeekMessageW empty queue", "%s",
         peek(nullptr, WM_USER, WM_APP, PM_REMOVE, window).c_str());

  PostMessageW(window, WM_USER, 7, 8);
  MSG message;
  BOOL got = GetMessageW(&message, window, 0, 0);
  answer("GetMessageW posted message", "%d %s(%lu,%ld)", got,
         nameOf(message.message) ? nameOf(message.message) : "other",
         static_cast<unsigned long>(message.wParam), static_cast<long>(message.lParam));
  answer("DispatchMessageW result", "%ld", static_cast<long>(DispatchMessageW(&message)));
  answer("messages of DispatchMessageW", "%s", taken().c_str());

  SetLastError(conformance::kSentinel);
  answer("PostMessageW junk window", "%s",
         withLastError(PostMessageW(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)),
                                    WM_USER, 0, 0))
             .c_str());
  SetLastError(conformance::kSentinel);
  answer("GetMessageW junk window filter", "%s",
         withLastError(GetMessageW(&message, reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)),
                                   0, 0))
             .c_str());

  // The listener's close: WM_CLOSE reaches DefWindowProcW, which destroys the window.
  PostMessageW(window, WM_USER, 9, 9);
  answer("SendMessageW WM_CLOSE", "%ld", static_cast<long>(SendMessageW(window, WM_CLOSE, 0, 0)));
  answer("messages of WM_CLOSE", "%s", taken().c_str());
  answer("IsWindow after WM_CLOSE", "%d", IsWindow(window));
  answer("message queued for the destroyed window", "%s",
         peek(nullptr, WM_USER, WM_USER, PM_REMOVE, window).c_str());
  SetLastError(conformance::kSentinel);
  answer("PostMessageW destroyed window", "%s",
         withLastError(PostMessageW(window, WM_USER, 0, 0)).c_str());
  SetLastError(conformance::kSentinel);
  answer("UnregisterClassW after the last window", "%s",
         withLastError(UnregisterClassW(kClass, instance)).c_str());
}

void timers(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = recordingProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClass;
  RegisterClassW(&windowClass);
  HWND window = createWindow(instance, L"conformance timers");
  drain();
  taken();

  SetLastError(conformance::kSentinel);
  answer("SetTimer window", "%s", withLastError(static_cast<long long>(
                                      SetTimer(window, 5, 10, nullptr))).c_str());
  MSG message;
  BOOL got = GetMessageW(&message, window, WM_TIMER, WM_TIMER);
  answer("GetMessageW window timer", "%d %s wParam=%lu", got,
         message.hwnd == window ? "self" : "other", static_cast<unsigned long>(message.wParam));
  SetLastError(conformance::kSentinel);
  answer("KillTimer window", "%s", withLastError(KillTimer(window, 5)).c_str());
  SetLastError(conformance::kSentinel);
  answer("KillTimer window again", "%s", withLastError(KillTimer(window, 5)).c_str());

  // A tick already waiting in the queue goes with its timer.
  SetTimer(window, 6, 10, nullptr);
  answer("WM_TIMER queued before KillTimer", "%s", timerQueued(window) ? "yes" : "no");
  KillTimer(window, 6);
  answer("WM_TIMER after KillTimer", "%s",
         peek(nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, window).c_str());

  SetLastError(conformance::kSentinel);
  UINT_PTR threadTimer = SetTimer(nullptr, 0, 10, nullptr);
  answer("SetTimer thread", "%s", threadTimer ? "id" : withLastError(0).c_str());
  got = GetMessageW(&message, nullptr, WM_TIMER, WM_TIMER);
  answer("GetMessageW thread timer", "%d %s wParam is the id: %s", got,
         message.hwnd ? "window" : "thread", message.wParam == threadTimer ? "yes" : "no");
  answer("thread WM_TIMER queued before KillTimer", "%s", timerQueued(nullptr) ? "yes" : "no");
  SetLastError(conformance::kSentinel);
  answer("KillTimer thread", "%s", withLastError(KillTimer(nullptr, threadTimer)).c_str());
  answer("thread WM_TIMER after KillTimer", "%s",
         peek(nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, window).c_str());

  SetLastError(conformance::kSentinel);
  answer("SetTimer junk window", "%s",
         withLastError(static_cast<long long>(
                           SetTimer(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)), 1, 10,
                                    nullptr)))
             .c_str());
  SetLastError(conformance::kSentinel);
  answer("KillTimer junk window", "%s",
         withLastError(KillTimer(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)), 1))
             .c_str());

  // A timer of a window ends with the window.
  SetTimer(window, 8, 10, nullptr);
  DestroyWindow(window);
  taken();
  SetLastError(conformance::kSentinel);
  answer("KillTimer of a destroyed window", "%s", withLastError(KillTimer(window, 8)).c_str());
  UnregisterClassW(kClass, instance);
}

void quit() {
  PostMessageW(nullptr, WM_USER, 1, 1);
  PostQuitMessage(7);
  PostMessageW(nullptr, WM_USER + 1, 2, 2);
  MSG message;
  BOOL first = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW before WM_QUIT", "%d %s", first,
         nameOf(message.message) ? nameOf(message.message) : "other");
  BOOL second = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW posted after PostQuitMessage", "%d %s", second,
         nameOf(message.message) ? nameOf(message.message) : "other");
  BOOL last = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW WM_QUIT", "%d message=%x wParam=%lu", last, message.message,
         static_cast<unsigned long>(message.wParam));
  answer("PeekMessageW after WM_QUIT", "%s", peek(nullptr, 0, 0, PM_REMOVE, nullptr).c_str());
}

}  // namespace

int main() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  classes(instance);
  windowsAndMessages(instance);
  timers(instance);
  quit();
  return 0;
}
