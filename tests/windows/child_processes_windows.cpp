// The test program started again as its own child: the parent's side (which start, which
// handles) and the child's (replay until its start, then run the body and end).
#include "tests/windows/child_processes_windows.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace ce::test {

namespace {

constexpr wchar_t kRoleVariable[] = L"CE_TEST_CHILD";
// A child under Wine starts in well under a second and replays a test in a few; a minute
// means it is stuck, not slow.
constexpr DWORD kReachDeadlineMs = 60000;
// Exit codes of a child that reached its start yet could not run its body.
constexpr int kNoSuchIndex = 97;
constexpr int kGateNeverOpened = 99;

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_) CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      if (handle_) CloseHandle(handle_);
      handle_ = other.release();
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  HANDLE release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_;
};

// A manual-reset event the children inherit.
Handle inheritableEvent() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return Handle(CreateEventW(&inherit, TRUE, FALSE, nullptr));
}

// What CE_TEST_CHILD tells a child: its start (counted from 0 in its test), its index among
// the children of that start, the event it sets on reaching it, and the gate it then waits for
// (none for a single child).
struct Role {
  unsigned start = 0;
  int index = 0;
  HANDLE reached = nullptr;
  HANDLE gate = nullptr;
};

std::optional<Role> parseRole() {
  wchar_t text[128];
  DWORD length = GetEnvironmentVariableW(kRoleVariable, text, sizeof text / sizeof text[0]);
  if (length == 0 || length >= sizeof text / sizeof text[0]) return std::nullopt;
  std::wistringstream in(text);
  Role role;
  unsigned long long reached = 0, gate = 0;
  if (!(in >> role.start >> role.index >> reached >> gate)) return std::nullopt;
  role.reached = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(reached));
  role.gate = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(gate));
  return role;
}

const std::optional<Role>& ownRole() {
  static const std::optional<Role> role = parseRole();
  return role;
}

// The number of this child start within the running test.
unsigned nextStart() {
  static const ::testing::TestInfo* test = nullptr;
  static unsigned count = 0;
  const ::testing::TestInfo* current = ::testing::UnitTest::GetInstance()->current_test_info();
  if (current != test) {
    test = current;
    count = 0;
  }
  return count++;
}

// In a child at its own start: runs the body and ends the process with its result. Any other
// start returns, to be passed over as one that succeeded.
void runIfOwnStart(unsigned start, int count, const std::function<int(int)>& body) {
  const std::optional<Role>& role = ownRole();
  if (!role || role->start != start) return;
  SetEvent(role->reached);
  if (role->index < 0 || role->index >= count) _exit(kNoSuchIndex);
  if (role->gate && WaitForSingleObject(role->gate, kReachDeadlineMs) != WAIT_OBJECT_0)
    _exit(kGateNeverOpened);
  std::fflush(nullptr);
  int code = body(role->index);
  std::fflush(nullptr);
  _exit(code);
}

std::wstring ownPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

// Standard output and error as the child's own, so that what it reports shows in the run.
void letChildrenInheritStandardHandles() {
  for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE handle = GetStdHandle(which);
    if (handle && handle != INVALID_HANDLE_VALUE)
      SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
}

// A child started for `start`, waited for until it reached it.
struct Started {
  Handle process;
  DWORD pid = 0;
  Handle reached;
};

std::optional<Started> startChild(unsigned start, int index, HANDLE gate) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!test) return std::nullopt;
  Started child;
  child.reached = inheritableEvent();
  if (!child.reached.get()) return std::nullopt;

  std::wstring role = std::to_wstring(start) + L" " + std::to_wstring(index) + L" " +
                      std::to_wstring(reinterpret_cast<uintptr_t>(child.reached.get())) + L" " +
                      std::to_wstring(reinterpret_cast<uintptr_t>(gate));
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  std::wstring command = L"\"" + ownPath() + L"\" --gtest_brief=1 --gtest_filter=" +
                         std::wstring(name.begin(), name.end());

  letChildrenInheritStandardHandles();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  std::fflush(nullptr);
  // The child's environment is ours at this moment: the role, and the device home.
  SetEnvironmentVariableW(kRoleVariable, role.c_str());
  BOOL made = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &info);
  DWORD error = GetLastError();
  SetEnvironmentVariableW(kRoleVariable, nullptr);
  if (!made) {
    std::fprintf(stderr, "child of %s could not be started: error %lu\n", name.c_str(), error);
    return std::nullopt;
  }
  CloseHandle(info.hThread);
  child.process = Handle(info.hProcess);
  child.pid = info.dwProcessId;
  return child;
}

// Waits until the child reached its start; false (the child ended) when it never does.
bool reachedItsStart(Started& child) {
  HANDLE either[] = {child.reached.get(), child.process.get()};
  DWORD woke = WaitForMultipleObjects(2, either, FALSE, kReachDeadlineMs);
  if (woke == WAIT_OBJECT_0) return true;
  std::fprintf(stderr,
               "child process %lu never reached its start: the test did something else when "
               "replayed\n",
               child.pid);
  TerminateProcess(child.process.get(), 1);
  WaitForSingleObject(child.process.get(), INFINITE);
  return false;
}

int exitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process, &code))
    return -1;
  return static_cast<int>(code);
}

}  // namespace

bool replayingForChild() { return ownRole().has_value(); }

int exitCodeInChild(const std::function<int()>& body) { return ChildProcess(body).wait(); }

bool allAtOnce(int count, const std::function<int(int)>& body) {
  unsigned start = nextStart();
  runIfOwnStart(start, count, body);
  if (replayingForChild()) return true;

  Handle gate = inheritableEvent();
  if (!gate.get()) return false;
  std::vector<Started> children;
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    std::optional<Started> child = startChild(start, i, gate.get());
    if (child) children.push_back(std::move(*child));
    else ok = false;
  }
  for (Started& child : children) ok = reachedItsStart(child) && ok;
  SetEvent(gate.get());
  for (Started& child : children) ok = exitCodeOf(child.process.get()) == 0 && ok;
  return ok;
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
  unsigned start = nextStart();
  runIfOwnStart(start, 1, [&body](int) { return body(); });
  if (replayingForChild()) {
    code_ = 0;
    return;
  }
  std::optional<Started> child = startChild(start, 0, nullptr);
  if (!child || !reachedItsStart(*child)) return;
  process_ = child->process.release();
  pid_ = child->pid;
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (code_ < 0) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
  }
  CloseHandle(process_);
}

bool ChildProcess::exited() {
  if (code_ < 0 && process_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0)
    code_ = exitCodeOf(process_);
  return code_ >= 0 || !process_;
}

int ChildProcess::wait() {
  if (code_ < 0 && process_) code_ = exitCodeOf(process_);
  return code_;
}

}  // namespace ce::test
