// Kernel objects and handles: named mutexes, CloseHandle on every kind of handle a caller may
// hold, the last-error value, the thread's pseudo handle and its priority, the module handle.
#include <string>

#include "conformance.h"

using conformance::answer;
using conformance::withError;

namespace {

// "handle err=N" or "null err=N" for a creation
std::string created(HANDLE handle) {
  char line[48];
  std::snprintf(line, sizeof line, "%s err=%lu", handle ? "handle" : "null",
                static_cast<unsigned long>(GetLastError()));
  return line;
}

HANDLE createMutex(const std::wstring& name) {
  SetLastError(conformance::kSentinel);
  return CreateMutexW(nullptr, TRUE, name.c_str());
}

std::string close(HANDLE handle) {
  SetLastError(conformance::kSentinel);
  return withError(CloseHandle(handle));
}

void lastError() {
  SetLastError(conformance::kSentinel);
  answer("GetLastError after SetLastError", "%lx", static_cast<unsigned long>(GetLastError()));
  SetLastError(0);
  answer("GetLastError after SetLastError 0", "%lu", static_cast<unsigned long>(GetLastError()));
}

void namedMutexes() {
  HANDLE first = createMutex(L"conformance_mutex");
  answer("CreateMutexW new name", "%s", created(first).c_str());
  HANDLE second = createMutex(L"conformance_mutex");
  answer("CreateMutexW same name again", "%s", created(second).c_str());
  HANDLE other = createMutex(L"CONFORMANCE_MUTEX");
  answer("CreateMutexW same name in other case", "%s", created(other).c_str());
  answer("CloseHandle mutex of the other case", "%s", close(other).c_str());
  answer("CloseHandle second mutex", "%s", close(second).c_str());
  answer("CloseHandle first mutex", "%s", close(first).c_str());
  answer("CloseHandle first mutex again", "%s", close(first).c_str());
  HANDLE again = createMutex(L"conformance_mutex");
  answer("CreateMutexW name again after every close", "%s", created(again).c_str());
  close(again);

  SetLastError(conformance::kSentinel);
  HANDLE unnamed = CreateMutexW(nullptr, FALSE, nullptr);
  answer("CreateMutexW unnamed", "%s", created(unnamed).c_str());
  SetLastError(conformance::kSentinel);
  HANDLE unnamedToo = CreateMutexW(nullptr, FALSE, nullptr);
  answer("CreateMutexW unnamed again", "%s", created(unnamedToo).c_str());
  answer("CloseHandle unnamed mutex", "%s", close(unnamed).c_str());
  close(unnamedToo);

  HANDLE empty = createMutex(L"");
  answer("CreateMutexW empty name", "%s", created(empty).c_str());
  HANDLE emptyToo = createMutex(L"");
  answer("CreateMutexW empty name again", "%s", created(emptyToo).c_str());
  close(emptyToo);
  close(empty);
}

// Names that differ only far along, past where a cut or a hash of their spelling could end.
void longNames() {
  std::wstring ascii(240, L'n');
  HANDLE a = createMutex(ascii + L"1");
  answer("CreateMutexW 241 characters", "%s", created(a).c_str());
  HANDLE b = createMutex(ascii + L"2");
  answer("CreateMutexW 241 characters differing in the last", "%s", created(b).c_str());
  close(b);
  close(a);

  std::wstring accented(120, static_cast<WCHAR>(0xE9));
  HANDLE c = createMutex(accented + L"1");
  answer("CreateMutexW 121 accented characters", "%s", created(c).c_str());
  HANDLE d = createMutex(accented + L"2");
  answer("CreateMutexW 121 accented characters differing in the last", "%s",
         created(d).c_str());
  HANDLE e = createMutex(accented + L"1");
  answer("CreateMutexW 121 accented characters again", "%s", created(e).c_str());
  close(e);
  close(d);
  close(c);

  std::wstring longest(MAX_PATH - 1, L'm');
  HANDLE f = createMutex(longest);
  answer("CreateMutexW MAX_PATH - 1 characters", "%s", created(f).c_str());
  close(f);
}

void namesWithBackslashes() {
  HANDLE plain = createMutex(L"conformance\\mutex");
  answer("CreateMutexW name with a backslash", "%s", created(plain).c_str());
  if (plain) close(plain);
  HANDLE local = createMutex(L"Local\\conformance_ns");
  answer("CreateMutexW Local\\ name", "%s", created(local).c_str());
  HANDLE bare = createMutex(L"conformance_ns");
  answer("CreateMutexW bare name of a Local\\ mutex", "%s", created(bare).c_str());
  if (bare) close(bare);
  if (local) close(local);
  HANDLE global = createMutex(L"Global\\conformance_global");
  answer("CreateMutexW Global\\ name", "%s", created(global).c_str());
  if (global) close(global);
  HANDLE lower = createMutex(L"local\\conformance_ns");
  answer("CreateMutexW local\\ in lower case", "%s", created(lower).c_str());
  if (lower) close(lower);
  HANDLE deeper = createMutex(L"Local\\conformance\\deeper");
  answer("CreateMutexW Local\\ name with another backslash", "%s", created(deeper).c_str());
  if (deeper) close(deeper);
  HANDLE trailing = createMutex(L"conformance_trailing\\");
  answer("CreateMutexW name ending in a backslash", "%s", created(trailing).c_str());
  if (trailing) close(trailing);
}

// CloseHandle on what is not a mutex of ours must answer, never crash.
void closeAnyHandle() {
  answer("CloseHandle NULL", "%s", close(nullptr).c_str());
  answer("CloseHandle junk value", "%s",
         close(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x12345678))).c_str());
  answer("CloseHandle odd junk value", "%s",
         close(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7777))).c_str());
  answer("CloseHandle INVALID_HANDLE_VALUE", "%s", close(INVALID_HANDLE_VALUE).c_str());
  answer("GetCurrentThread value", "%lld",
         static_cast<long long>(reinterpret_cast<LONG_PTR>(GetCurrentThread())));
  answer("CloseHandle GetCurrentThread", "%s", close(GetCurrentThread()).c_str());

  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ConformanceKernelObjects", 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  answer("RegCreateKeyExW for CloseHandle", "%ld", static_cast<long>(status));
  if (status == ERROR_SUCCESS) {
    answer("CloseHandle registry key", "%s", close(reinterpret_cast<HANDLE>(key)).c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\ConformanceKernelObjects");
  }
}

void threadAndModule() {
  SetLastError(conformance::kSentinel);
  answer("SetThreadPriority below normal", "%s",
         withError(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL)).c_str());
  answer("GetThreadPriority after below normal", "%d", GetThreadPriority(GetCurrentThread()));
  SetLastError(conformance::kSentinel);
  answer("SetThreadPriority junk handle", "%s",
         withError(SetThreadPriority(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x12345678)),
                                     THREAD_PRIORITY_NORMAL))
             .c_str());
  SetLastError(conformance::kSentinel);
  answer("SetThreadPriority out of range", "%s",
         withError(SetThreadPriority(GetCurrentThread(), 99)).c_str());
  SetLastError(conformance::kSentinel);
  answer("GetThreadPriority junk handle", "%s",
         withError(GetThreadPriority(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x12345678))))
             .c_str());
  SetLastError(conformance::kSentinel);
  answer("GetModuleHandleW NULL", "%s", GetModuleHandleW(nullptr) ? "handle" : "null");
  SetLastError(conformance::kSentinel);
  HMODULE missing = GetModuleHandleW(L"conformance_missing.dll");
  answer("GetModuleHandleW missing module", "%s", created(missing).c_str());
}

}  // namespace

int main() {
  lastError();
  namedMutexes();
  longNames();
  namesWithBackslashes();
  closeAnyHandle();
  threadAndModule();
  return 0;
}
