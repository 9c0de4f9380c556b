// Last-error value, thread priority, module handle and the message box.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"

namespace {
thread_local DWORD lastError = 0;
thread_local int threadPriority = THREAD_PRIORITY_NORMAL;
// The pseudo-handle of the calling thread, as the device hands it out.
HANDLE const currentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
// The instance handle of the one module a process has here.
HMODULE const processModule = reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x10000));
}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

HANDLE GetCurrentThread() { return currentThread; }

BOOL SetThreadPriority(HANDLE thread, int priority) {
  long long forced;
  if (ce::failPointHit("SetThreadPriority", forced)) return static_cast<BOOL>(forced);
  if (thread != currentThread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (priority < 0 || priority > 7) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Device priorities 0..7 onto nice values; lowering needs no privilege, raising may fail.
  // Below normal is one nice step down: nice values share the processor in proportion (each
  // step about a tenth less), and five steps would leave a listener a quarter of a core
  // shared with any busy program, its bursts four times as long.
  static const int niceOf[] = {-15, -10, -5, 0, 1, 10, 15, 19};
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), niceOf[priority]) != 0 &&
      priority < THREAD_PRIORITY_NORMAL) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  threadPriority = priority;
  return TRUE;
}

int GetThreadPriority(HANDLE thread) {
  if (thread != currentThread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return threadPriority;
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (moduleName) {
    SetLastError(126);  // ERROR_MOD_NOT_FOUND: only the process's own module exists here
    return nullptr;
  }
  return processModule;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  std::string narrowCaption, narrowText;
  ce::narrowFileName(caption ? caption : L"", narrowCaption);
  ce::narrowFileName(text ? text : L"", narrowText);
  std::fprintf(stderr, "%s: %s\n", narrowCaption.c_str(), narrowText.c_str());
  std::fflush(stderr);
  return IDOK;
}
