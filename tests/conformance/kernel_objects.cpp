// Kernel objects and handles: named mutexes, CloseHandle on every kind of handle a caller may
// hold, the last-error value, the thread's pseudo handle and its priority, the module handle.
#include <string>

#include "conformance.h"

using conformance::answer;
using conformance::answerCode;
using conformance::answerText;
using conformance::freshError;

namespace {

// "handle err=N" or "null err=N" for a creation
std::string created(HANDLE handle) {
  char line[48];
  std::snprintf(line, sizeof line, "%s err=%lu", handle ? "handle" : "null",
                static_cast<unsigned long>(GetLastError()));
  return line;
}

const HANDLE kJunk = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x12345678));

std::string close(HANDLE handle) {
  return freshError([handle] { return CloseHandle(handle); });
}

// a held mutex of `name`, its creation answered as `check`
HANDLE mutexAnswered(const char* check, const std::wstring& name) {
  SetLastError(conformance::kSentinel);
  HANDLE handle = CreateMutexW(nullptr, TRUE, name.c_str());
  answerText(check, created(handle));
  return handle;
}

void answerMutexThenClose(const char* check, const std::wstring& name) {
  if (HANDLE handle = mutexAnswered(check, name)) close(handle);
}

void lastError() {
  SetLastError(conformance::kSentinel);
  answer("GetLastError after SetLastError", "%lx", static_cast<unsigned long>(GetLastError()));
  SetLastError(0);
  answer("GetLastError after SetLastError 0", "%lu", static_cast<unsigned long>(GetLastError()));
}

void namedMutexes() {
  HANDLE first = mutexAnswered("CreateMutexW new name", L"conformance_mutex");
  HANDLE second = mutexAnswered("CreateMutexW same name again", L"conformance_mutex");
  HANDLE other = mutexAnswered("CreateMutexW same name in other case", L"CONFORMANCE_MUTEX");
  answerText("CloseHandle mutex of the other case", close(other));
  answerText("CloseHandle second mutex", close(second));
  answerText("CloseHandle first mutex", close(first));
  answerText("CloseHandle first mutex again", close(first));
  answerMutexThenClose("CreateMutexW name again after every close", L"conformance_mutex");

  SetLastError(conformance::kSentinel);
  HANDLE unnamed = CreateMutexW(nullptr, FALSE, nullptr);
  answerText("CreateMutexW unnamed", created(unnamed));
  SetLastError(conformance::kSentinel);
  HANDLE unnamedToo = CreateMutexW(nullptr, FALSE, nullptr);
  answerText("CreateMutexW unnamed again", created(unnamedToo));
  answerText("CloseHandle unnamed mutex", close(unnamed));
  close(unnamedToo);

  HANDLE empty = mutexAnswered("CreateMutexW empty name", L"");
  HANDLE emptyToo = mutexAnswered("CreateMutexW empty name again", L"");
  close(emptyToo);
  close(empty);
}

// Names that differ only far along, past where a cut or a hash of their spelling could end.
void longNames() {
  std::wstring ascii(240, L'n');
  HANDLE a = mutexAnswered("CreateMutexW 241 characters", ascii + L"1");
  HANDLE b = mutexAnswered("CreateMutexW 241 characters differing in the last", ascii + L"2");
  close(b);
  close(a);

  std::wstring accented(120, static_cast<WCHAR>(0xE9));
  HANDLE c = mutexAnswered("CreateMutexW 121 accented characters", accented + L"1");
  HANDLE d =
      mutexAnswered("CreateMutexW 121 accented characters differing in the last", accented + L"2");
  HANDLE e = mutexAnswered("CreateMutexW 121 accented characters again", accented + L"1");
  close(e);
  close(d);
  close(c);
  answerMutexThenClose("CreateMutexW MAX_PATH - 1 characters", std::wstring(MAX_PATH - 1, L'm'));
}

void namesWithBackslashes() {
  answerMutexThenClose("CreateMutexW name with a backslash", L"conformance\\mutex");
  HANDLE local = mutexAnswered("CreateMutexW Local\\ name", L"Local\\conformance_ns");
  answerMutexThenClose("CreateMutexW bare name of a Local\\ mutex", L"conformance_ns");
  if (local) close(local);
  answerMutexThenClose("CreateMutexW Global\\ name", L"Global\\conformance_global");
  answerMutexThenClose("CreateMutexW local\\ in lower case", L"local\\conformance_ns");
  answerMutexThenClose("CreateMutexW Local\\ name with another backslash",
                       L"Local\\conformance\\deeper");
  answerMutexThenClose("CreateMutexW name ending in a backslash", L"conformance_trailing\\");
}

// CloseHandle on what is not a mutex of ours must answer, never crash.
void closeAnyHandle() {
  answerText("CloseHandle NULL", close(nullptr));
  answerText("CloseHandle junk value", close(kJunk));
  answerText("CloseHandle odd junk value",
             close(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7777))));
  answerText("CloseHandle INVALID_HANDLE_VALUE", close(INVALID_HANDLE_VALUE));
  answerCode("GetCurrentThread value",
             static_cast<long long>(reinterpret_cast<LONG_PTR>(GetCurrentThread())));
  answerText("CloseHandle GetCurrentThread", close(GetCurrentThread()));

  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\ConformanceKernelObjects", 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  answerCode("RegCreateKeyExW for CloseHandle", status);
  if (status == ERROR_SUCCESS) {
    answerText("CloseHandle registry key", close(reinterpret_cast<HANDLE>(key)));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\ConformanceKernelObjects");
  }
}

void threadAndModule() {
  answerText("SetThreadPriority below normal", freshError([&] {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  }));
  answerCode("GetThreadPriority after below normal", GetThreadPriority(GetCurrentThread()));
  answerText("SetThreadPriority junk handle",
             freshError([&] { return SetThreadPriority(kJunk, THREAD_PRIORITY_NORMAL); }));
  answerText("SetThreadPriority out of range",
             freshError([&] { return SetThreadPriority(GetCurrentThread(), 99); }));
  answerText("GetThreadPriority junk handle", freshError([&] { return GetThreadPriority(kJunk); }));
  SetLastError(conformance::kSentinel);
  answer("GetModuleHandleW NULL", "%s", GetModuleHandleW(nullptr) ? "handle" : "null");
  SetLastError(conformance::kSentinel);
  HMODULE missing = GetModuleHandleW(L"conformance_missing.dll");
  answerText("GetModuleHandleW missing module", created(missing));
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
