// Kernel objects and handles: named mutexes, CloseHandle, the last-error value.
#include "conformance.h"

using conformance::answer;
using conformance::withError;

int main() {
  SetLastError(conformance::kSentinel);
  answer("GetLastError after SetLastError", "%lx", static_cast<unsigned long>(GetLastError()));

  SetLastError(0);
  HANDLE first = CreateMutexW(nullptr, FALSE, L"conformance_mutex");
  answer("CreateMutexW new name", "%s err=%lu", first ? "handle" : "null",
         static_cast<unsigned long>(GetLastError()));
  HANDLE second = CreateMutexW(nullptr, FALSE, L"conformance_mutex");
  answer("CreateMutexW same name again", "%s err=%lu", second ? "handle" : "null",
         static_cast<unsigned long>(GetLastError()));
  answer("CloseHandle second mutex", "%s", withError(CloseHandle(second)).c_str());
  answer("CloseHandle first mutex", "%s", withError(CloseHandle(first)).c_str());
  return 0;
}
