// Windows, messages and timers: the classes, hidden windows, queue and timers of the listener's
// start-up, message loop and close sequence, on one thread of one process.
#include <chrono>
#include <string>

#include "conformance.h"

using conformance::answer;
using conformance::answerCode;
using conformance::answerText;
using conformance::freshError;
using conformance::withError;

namespace {

// The messages a window procedure saw, as names; only those the listener acts on are kept,
// since desktop Windows also sends the non-client and sizing messages the device has not.
std::string seen;

const char* knownName(UINT message) {
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
  if (const char* name = knownName(message)) {
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

const char* nameOf(UINT message) {
  const char* name = knownName(message);
  return name ? name : "other";
}

std::string taken() {
  std::string out = seen.empty() ? "(none)" : seen;
  seen.clear();
  return out;
}

// "message(wParam,lParam) to self|thread|other" of what one call took, or "nothing"
std::string peek(HWND window, UINT first, UINT last, UINT flags, HWND self) {
  MSG message;
  if (!PeekMessageW(&message, window, first, last, flags)) return "nothing";
  char line[96];
  std::snprintf(line, sizeof line, "%s(%lu,%ld) to %s", nameOf(message.message),
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
const HWND kJunkWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234));

WNDCLASSW recordingClass(HINSTANCE instance) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = recordingProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClass;
  return windowClass;
}

void classes(HINSTANCE instance) {
  WNDCLASSW windowClass = recordingClass(instance);
  SetLastError(conformance::kSentinel);
  ATOM atom = RegisterClassW(&windowClass);
  answerText("RegisterClassW", atom ? "atom" : withError(0));
  answerText("RegisterClassW again", freshError([&] { return RegisterClassW(&windowClass); }));
  WNDCLASSW upper = windowClass;
  upper.lpszClassName = L"CONFORMANCEWINDOWCLASS";
  answerText("RegisterClassW in other case", freshError([&] { return RegisterClassW(&upper); }));
  answerText("UnregisterClassW unknown",
             freshError([&] { return UnregisterClassW(L"ConformanceNoSuchClass", instance); }));
}

HWND createWindow(HINSTANCE instance, const WCHAR* title) {
  SetLastError(conformance::kSentinel);
  return CreateWindowExW(0, kClass, title, WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
}

void windowsAndMessages(HINSTANCE instance) {
  HWND window = createWindow(instance, L"conformance window");
  answerText("CreateWindowExW", window ? "window" : withError(0));
  answerText("messages of CreateWindowExW", taken());
  answerCode("IsWindow", IsWindow(window));
  answer("FindWindowW class", "%s",
         FindWindowW(kClass, nullptr) == window ? "our window" : "another");
  answer("FindWindowW class in other case", "%s",
         FindWindowW(L"conformancewindowclass", nullptr) == window ? "our window" : "another");
  SetLastError(conformance::kSentinel);
  answer("FindWindowW unknown class", "%s",
         FindWindowW(L"ConformanceNoSuchClass", nullptr) ? "window" : "null");
  answerText("UnregisterClassW while a window lives",
             freshError([&] { return UnregisterClassW(kClass, instance); }));
  drain();
  taken();

  answerCode("SendMessageW result", SendMessageW(window, WM_APP, 5, 6));
  answerText("messages of SendMessageW", taken());

  PostMessageW(window, WM_USER, 1, 2);
  PostMessageW(nullptr, WM_USER + 1, 3, 4);
  PostMessageW(window, WM_COMMAND, 5, 6);
  answerText("PeekMessageW PM_NOREMOVE", peek(nullptr, 0, 0, PM_NOREMOVE, window));
  answerText("PeekMessageW filtered to WM_COMMAND",
             peek(nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE, window));
  answerText("PeekMessageW thread messages only",
             peek(reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1)), 0, 0, PM_REMOVE, window));
  answerText("PeekMessageW next", peek(nullptr, 0, 0, PM_REMOVE, window));
  answerText("PeekMessageW empty queue", peek(nullptr, WM_USER, WM_APP, PM_REMOVE, window));

  PostMessageW(window, WM_USER, 7, 8);
  MSG message;
  BOOL got = GetMessageW(&message, window, 0, 0);
  answer("GetMessageW posted message", "%d %s(%lu,%ld)", got, nameOf(message.message),
         static_cast<unsigned long>(message.wParam), static_cast<long>(message.lParam));
  answerCode("DispatchMessageW result", DispatchMessageW(&message));
  answerText("messages of DispatchMessageW", taken());

  answerText("PostMessageW junk window",
             freshError([&] { return PostMessageW(kJunkWindow, WM_USER, 0, 0); }));
  answerText("GetMessageW junk window filter",
             freshError([&] { return GetMessageW(&message, kJunkWindow, 0, 0); }));

  // The listener's close: WM_CLOSE reaches DefWindowProcW, which destroys the window.
  PostMessageW(window, WM_USER, 9, 9);
  answerCode("SendMessageW WM_CLOSE", SendMessageW(window, WM_CLOSE, 0, 0));
  answerText("messages of WM_CLOSE", taken());
  answerCode("IsWindow after WM_CLOSE", IsWindow(window));
  answerText("message queued for the destroyed window",
             peek(nullptr, WM_USER, WM_USER, PM_REMOVE, window));
  answerText("PostMessageW destroyed window",
             freshError([&] { return PostMessageW(window, WM_USER, 0, 0); }));
  answerText("DestroyWindow destroyed window",
             freshError([&] { return DestroyWindow(window); }));
  answerText("UnregisterClassW after the last window",
             freshError([&] { return UnregisterClassW(kClass, instance); }));
  answerText("CreateWindowExW unregistered class", freshError([&] {
               return CreateWindowExW(0, L"ConformanceNoSuchClass", L"never", WS_OVERLAPPED,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, instance, nullptr) != nullptr;
             }));
}

void timers(HINSTANCE instance) {
  WNDCLASSW windowClass = recordingClass(instance);
  RegisterClassW(&windowClass);
  HWND window = createWindow(instance, L"conformance timers");
  drain();
  taken();

  answerText("SetTimer window", freshError([&] { return SetTimer(window, 5, 10, nullptr); }));
  MSG message;
  BOOL got = GetMessageW(&message, window, WM_TIMER, WM_TIMER);
  answer("GetMessageW window timer", "%d %s wParam=%lu", got,
         message.hwnd == window ? "self" : "other", static_cast<unsigned long>(message.wParam));
  answerText("KillTimer window", freshError([&] { return KillTimer(window, 5); }));
  answerText("KillTimer window again", freshError([&] { return KillTimer(window, 5); }));

  // A tick already waiting in the queue goes with its timer.
  SetTimer(window, 6, 10, nullptr);
  answer("WM_TIMER queued before KillTimer", "%s", timerQueued(window) ? "yes" : "no");
  KillTimer(window, 6);
  answerText("WM_TIMER after KillTimer", peek(nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, window));

  SetLastError(conformance::kSentinel);
  UINT_PTR threadTimer = SetTimer(nullptr, 0, 10, nullptr);
  answerText("SetTimer thread", threadTimer ? "id" : withError(0));
  got = GetMessageW(&message, nullptr, WM_TIMER, WM_TIMER);
  answer("GetMessageW thread timer", "%d %s wParam is the id: %s", got,
         message.hwnd ? "window" : "thread", message.wParam == threadTimer ? "yes" : "no");
  answer("thread WM_TIMER queued before KillTimer", "%s", timerQueued(nullptr) ? "yes" : "no");
  answerText("KillTimer thread", freshError([&] { return KillTimer(nullptr, threadTimer); }));
  answerText("thread WM_TIMER after KillTimer",
             peek(nullptr, WM_TIMER, WM_TIMER, PM_REMOVE, window));

  answerText("SetTimer junk window",
             freshError([&] { return SetTimer(kJunkWindow, 1, 10, nullptr); }));
  answerText("KillTimer junk window", freshError([&] { return KillTimer(kJunkWindow, 1); }));

  // A timer of a window ends with the window.
  SetTimer(window, 8, 10, nullptr);
  DestroyWindow(window);
  taken();
  answerText("KillTimer of a destroyed window", freshError([&] { return KillTimer(window, 8); }));
  UnregisterClassW(kClass, instance);
}

void quit() {
  PostMessageW(nullptr, WM_USER, 1, 1);
  PostQuitMessage(7);
  PostMessageW(nullptr, WM_USER + 1, 2, 2);
  MSG message;
  BOOL first = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW before WM_QUIT", "%d %s", first, nameOf(message.message));
  BOOL second = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW posted after PostQuitMessage", "%d %s", second, nameOf(message.message));
  BOOL last = GetMessageW(&message, nullptr, 0, 0);
  answer("GetMessageW WM_QUIT", "%d message=%x wParam=%lu", last, message.message,
         static_cast<unsigned long>(message.wParam));
  answerText("PeekMessageW after WM_QUIT", peek(nullptr, 0, 0, PM_REMOVE, nullptr));
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
