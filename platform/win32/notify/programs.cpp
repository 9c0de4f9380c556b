// Starting due programs and letting go of them.
//
// A program is started, never waited for. Windows leaves no zombie behind a process that ends,
// but its handle would stay open: the scheduler keeps the handles of the programs it started
// and closes each at the first pass after its end. Programs are started in a process group of
// their own, so that Ctrl-C aimed at the scheduler does not end a synchronisation under way,
// and they outlive the scheduler.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/win32/objectstore/object_store.h"

// A request names the program by its host path on Windows (cescheduler starts it where it is):
// the system's own call, not the device-path one of platform/win32/device/device_paths.h.
#undef GetFileAttributesW

namespace ce::notify {

namespace {

// The programs started and not yet seen to end. Only the scheduler's thread starts and reaps,
// but a test may call reapPrograms from another: a critical section keeps the list whole.
struct Programs {
  Programs() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::vector<HANDLE> running;
};

Programs& programs() {
  static Programs* instance = new Programs;  // outlives every static destructor
  return *instance;
}

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Locked() { LeaveCriticalSection(&section_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

void reportNotStarted(const Request& request, const std::string& reason) {
  std::fprintf(stderr, "scheduler: cannot start %s: %s; request dropped\n",
               ce::win32::utf8Of(request.app).c_str(), reason.c_str());
  std::fflush(stderr);
}

std::string errorText(DWORD error) {
  char text[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == '.'))
    --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(error);
}

// <device home>\run\<file name>.out, appended to and inheritable; null when it cannot be opened.
HANDLE openOutput(const std::wstring& app) {
  std::wstring folder;
  if (ce::win32::storeFolder(folder) != ERROR_SUCCESS) return nullptr;
  std::wstring run = folder.substr(0, folder.rfind(L'\\')) + L"\\run";
  CreateDirectoryW(run.c_str(), nullptr);
  std::wstring name = app.substr(app.find_last_of(L"\\/") + 1);
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE file = CreateFileW((run + L"\\" + name + L".out").c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

}  // namespace

std::optional<DWORD> startProgram(const Request& request) {
  DWORD attributes = GetFileAttributesW(request.app.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    reportNotStarted(request, errorText(GetLastError()));
    return std::nullopt;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    reportNotStarted(request, "not a file");
    return std::nullopt;
  }
  HANDLE output = openOutput(request.app);
  if (!output)
    std::fprintf(stderr, "scheduler: cannot open the output file of %s; output discarded\n",
                 ce::win32::utf8Of(request.app).c_str());
  // No arguments: the command line is the program's own path alone.
  std::wstring commandLine = L"\"" + request.app + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessW(request.app.c_str(), commandLine.data(), nullptr, nullptr,
                                output != nullptr, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                                &startup, &process);
  DWORD error = GetLastError();
  if (output) CloseHandle(output);
  if (!started) {
    reportNotStarted(request, errorText(error));
    return std::nullopt;
  }
  CloseHandle(process.hThread);
  Programs& all = programs();
  Locked locked(all.lock);
  all.running.push_back(process.hProcess);
  return process.dwProcessId;
}

size_t reapPrograms() {
  Programs& all = programs();
  Locked locked(all.lock);
  std::erase_if(all.running, [](HANDLE process) {
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(process);
    return true;
  });
  return all.running.size();
}

}  // namespace ce::notify
