// Registry transactions (ce::registry::runInTransaction): a body that fails part way, throws,
// nests, commits, waits for another thread or process, or whose process ends inside it. Both
// sides are ours (desktop Windows' transacted registry calls fail under Wine), so the Linux
// emulation and the Windows-side library judge each other: each scenario prints the whole tree
// it wrote to, read inside the next transaction.
//
// The processes are copies of this program started with the name of a child's part as their
// argument; they inherit the device home, and the parent waits for their end with a deadline.
// Files that say where a child is go in a folder of the device's file system.
#include "platform/registry_transaction.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "conformance.h"
#ifdef _WIN32
#include "platform/win32/device/machine_key.h"
#include "platform/win32/objectstore/object_store.h"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;
#endif

using conformance::answer;
using conformance::answerCode;
using conformance::answerText;

namespace {

const WCHAR* const kRoot = L"Software\\ConformanceTransaction";
const WCHAR* const kMachineValue = L"ConformanceTransactionValue";
const WCHAR* const kFolder = L"\\conf_regtxn";
// What every failing body returns, so that the result shows it is the body's.
constexpr LONG kBodyFailure = ERROR_INVALID_DATA;

void pause(int milliseconds) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(milliseconds));
#else
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

// Waits for `condition` at most `milliseconds`; whether it came.
bool waitFor(const std::function<bool()>& condition, int milliseconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pause(2);
  }
  return true;
}

// Long enough for anything that must come; what must not come is given a shorter chance.
constexpr int kMustCome = 60000;
constexpr int kMustNotCome = 300;

// --- the registry, read and written with the calls under test

HKEY openKey(HKEY parent, const WCHAR* name, REGSAM access = KEY_ALL_ACCESS) {
  HKEY key = nullptr;
  return RegOpenKeyExW(parent, name, 0, access, &key) == ERROR_SUCCESS ? key : nullptr;
}

HKEY createKey(HKEY parent, const WCHAR* name) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  return rc == ERROR_SUCCESS ? key : nullptr;
}

LONG setNumber(HKEY key, const WCHAR* name, DWORD number) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof number);
}

LONG setText(HKEY key, const WCHAR* name, const WCHAR* text) {
  auto size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}

// A DWORD value of `path` below the root, or -1 when there is none.
long long number(const WCHAR* path, const WCHAR* name) {
  HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot, KEY_READ);
  if (!root) return -1;
  HKEY key = openKey(root, path, KEY_READ);
  RegCloseKey(root);
  if (!key) return -1;
  DWORD value = 0;
  DWORD size = sizeof value;
  DWORD type = REG_NONE;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD ? value : -1;
}

std::string valueText(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, data.data(), sizeof number);
    return "dword:" + std::to_string(number);
  }
  if (type == REG_SZ)
    return "sz:" + conformance::text(reinterpret_cast<const WCHAR*>(data.data()),
                                     static_cast<long>(data.size() / sizeof(WCHAR)));
  return "type" + std::to_string(type) + ":" + conformance::hex(data.data(), data.size());
}

// The tree below `key`, values and subkeys each in name order (the two registries list them
// in different orders): name{value=...,...}[subkey{...}[...],...].
std::string tree(HKEY key) {
  std::vector<std::string> values;
  std::vector<std::pair<std::string, std::wstring>> subkeys;
  WCHAR name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    BYTE data[512];
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (RegEnumValueW(key, index, name, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
      break;
    values.push_back(conformance::text(name, static_cast<long>(length)) + "=" +
                     valueText(type, std::vector<BYTE>(data, data + size)));
  }
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    std::wstring wide(name, length);
    subkeys.emplace_back(conformance::text(wide.c_str()), wide);
  }
  std::sort(values.begin(), values.end());
  std::sort(subkeys.begin(), subkeys.end());
  std::string out = "{";
  for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + values[i];
  out += "}[";
  for (size_t i = 0; i < subkeys.size(); ++i) {
    HKEY child = openKey(key, subkeys[i].second.c_str(), KEY_READ);
    out += (i ? "," : "") + subkeys[i].first + (child ? tree(child) : "(unreadable)");
    if (child) RegCloseKey(child);
  }
  return out + "]";
}

// The root's tree and the machine key's own test value, as the next transaction sees them.
std::string state() {
  std::string out;
  LONG rc = ERROR_BUSY;
  // A transaction still running elsewhere (a child about to be killed) gives ERROR_BUSY after
  // a few seconds on both sides; a loaded machine may take longer than that.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMustCome);
  while (rc == ERROR_BUSY && std::chrono::steady_clock::now() < deadline)
    rc = ce::registry::runInTransaction([&]() -> LONG {
      HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot, KEY_READ);
      out = root ? tree(root) : "(no root)";
      if (root) RegCloseKey(root);
      DWORD type = REG_NONE;
      LONG found =
          RegQueryValueExW(HKEY_LOCAL_MACHINE, kMachineValue, nullptr, &type, nullptr, nullptr);
      out += found == ERROR_SUCCESS ? " machine value" : " no machine value";
      return ERROR_SUCCESS;
    });
  return rc == ERROR_SUCCESS ? out : "(transaction failed: " + std::to_string(rc) + ")";
}

void deleteTree(HKEY parent, const WCHAR* name) {
  HKEY key = openKey(parent, name);
  if (!key) return;
  WCHAR child[256];
  DWORD length = 256;
  while (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS) {
    deleteTree(key, child);
    length = 256;
  }
  RegCloseKey(key);
  RegDeleteKeyW(parent, name);
}

// The scene every scenario starts from, made outside any transaction.
std::string freshScene() {
  deleteTree(HKEY_LOCAL_MACHINE, kRoot);
  RegDeleteValueW(HKEY_LOCAL_MACHINE, kMachineValue);
  HKEY root = createKey(HKEY_LOCAL_MACHINE, kRoot);
  HKEY keep = createKey(root, L"Keep");
  setNumber(keep, L"a", 1);
  setText(keep, L"s", L"old");
  HKEY doomed = createKey(root, L"Doomed");
  setText(doomed, nullptr, L"default");
  BYTE bytes[] = {1, 2};
  RegSetValueExW(doomed, L"d", 0, REG_BINARY, bytes, sizeof bytes);
  HKEY stay = createKey(root, L"Stay");
  for (HKEY key : {root, keep, doomed, stay})
    if (key) RegCloseKey(key);
  return state();
}

// Every kind of journaled write, the same value written twice (the second time with another
// type) so that the order of taking back shows: keys made two levels deep (through
// HKEY_LOCAL_MACHINE itself and through a handle), values made, overwritten and deleted, a value of
// the machine key itself, a value first written through a handle that may not read it, a key
// deleted with its values. The last call's result, ERROR_SUCCESS when every call succeeded.
LONG writeEverything() {
  LONG last = ERROR_SUCCESS;
  auto note = [&](LONG rc) {
    if (rc != ERROR_SUCCESS) last = rc;
  };
  HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
  if (!root) return ERROR_FILE_NOT_FOUND;
  HKEY deep = createKey(HKEY_LOCAL_MACHINE, L"Software\\ConformanceTransaction\\New\\Deep");
  if (!deep) note(ERROR_CANTWRITE);
  if (deep) {
    note(setNumber(deep, L"n", 5));
    RegCloseKey(deep);
  }
  HKEY other = createKey(root, L"Made\\Below");
  if (!other) note(ERROR_CANTWRITE);
  if (other) RegCloseKey(other);
  HKEY writeOnly = openKey(root, L"Keep", KEY_SET_VALUE);
  if (!writeOnly) note(ERROR_ACCESS_DENIED);
  if (writeOnly) {
    note(setText(writeOnly, L"s", L"through a write-only handle"));
    RegCloseKey(writeOnly);
  }
  HKEY keep = openKey(root, L"Keep");
  if (keep) {
    note(setNumber(keep, L"a", 2));
    note(setText(keep, L"a", L"now text"));
    note(setNumber(keep, L"b", 4));
    note(RegDeleteValueW(keep, L"s"));
    RegCloseKey(keep);
  }
  note(setNumber(HKEY_LOCAL_MACHINE, kMachineValue, 6));
  note(RegDeleteKeyW(root, L"Doomed"));
  HKEY stay = openKey(root, L"Stay");
  if (stay) {
    note(setText(stay, nullptr, L"new default"));
    RegCloseKey(stay);
  }
  RegCloseKey(root);
  return last;
}

// --- processes: this program again, with a child's part as its argument

// A process killed inside a body ends with this code where no signal tells (Windows).
constexpr int kKilled = 9;

#ifdef _WIN32
using Child = HANDLE;

Child startChild(const char* part) {
  WCHAR self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::wstring line = L"\"" + std::wstring(self, length) + L"\" ";
  for (const char* c = part; *c; ++c) line += static_cast<WCHAR>(*c);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

// "exit <code>", "killed", "still running" after the deadline, or "not started"
std::string childEnd(Child& child, int milliseconds) {
  if (!child) return "not started";
  if (WaitForSingleObject(child, static_cast<DWORD>(milliseconds)) != WAIT_OBJECT_0)
    return "still running";
  DWORD code = 0;
  GetExitCodeProcess(child, &code);
  CloseHandle(child);
  child = nullptr;
  return code == static_cast<DWORD>(kKilled) ? "killed" : "exit " + std::to_string(code);
}

[[noreturn]] void killSelf() {
  TerminateProcess(GetCurrentProcess(), kKilled);
  ExitProcess(kKilled);
}

[[noreturn]] void exitNow(int code) { ExitProcess(static_cast<UINT>(code)); }
#else
using Child = pid_t;

Child startChild(const char* part) {
  char self[] = "/proc/self/exe";
  std::string argument = part;
  char* argv[] = {self, argument.data(), nullptr};
  pid_t pid = 0;
  return posix_spawn(&pid, self, nullptr, nullptr, argv, environ) == 0 ? pid : 0;
}

std::string childEnd(Child& child, int milliseconds) {
  if (child <= 0) return "not started";
  int status = 0;
  if (!waitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, milliseconds))
    return "still running";
  child = 0;
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return "killed";
  return WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "ended otherwise";
}

[[noreturn]] void killSelf() {
  kill(getpid(), SIGKILL);
  _exit(kKilled);
}

[[noreturn]] void exitNow(int code) { _exit(code); }
#endif

// --- files that say where a child is (kFolder on the device)

std::wstring marker(const WCHAR* name) { return std::wstring(kFolder) + L"\\" + name; }

bool markerThere(const WCHAR* name) {
  std::error_code error;
#ifdef _WIN32
  // Made with CreateFileW on the drive's root, not below the device home.
  return std::filesystem::exists(std::filesystem::path(marker(name)), error);
#else
  return std::filesystem::exists(conformance::hostPath(marker(name).c_str()), error);
#endif
}

void leaveMarker(const WCHAR* name) { conformance::writeBytes(marker(name).c_str(), "x"); }

// --- the children's parts

// Reads Keep\a in its own transaction and keeps what it saw as Keep\seen.
int readerChild() {
  LONG rc = ce::registry::runInTransaction([]() -> LONG {
    long long seen = number(L"Keep", L"a");
    HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
    HKEY keep = root ? openKey(root, L"Keep") : nullptr;
    LONG written = keep ? setNumber(keep, L"seen", static_cast<DWORD>(seen)) : ERROR_FILE_NOT_FOUND;
    if (keep) RegCloseKey(keep);
    if (root) RegCloseKey(root);
    return written;
  });
  return rc == ERROR_SUCCESS ? 0 : 1;
}

// Writes everything, then ends inside the body: by its own exit, or killed; or, told by the
// marker "go" after it left "inside", killed while the parent waits for the transaction.
int endingChild(const char* how) {
  ce::registry::runInTransaction([how]() -> LONG {
    writeEverything();
    std::fflush(stdout);
    if (std::strcmp(how, "exit-inside") == 0) exitNow(3);
    if (std::strcmp(how, "killed-while-waited-for") == 0) {
      leaveMarker(L"inside");
      waitFor([] { return markerThere(L"go"); }, kMustCome);
    }
    killSelf();
  });
  return 1;  // not reached: the body never returns
}

// --- the scenarios

void failingBodies() {
  std::string before = freshScene();
  answerText("scene", before);
  LONG written = ERROR_SUCCESS;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    written = writeEverything();
    return kBodyFailure;
  });
  answerCode("failing body result", rc);
  answerText("failing body, writes", std::to_string(written));
  std::string after = state();
  answerText("after a failing body", after);
  answerText("after a failing body as before", after == before ? "yes" : "no");

  freshScene();
  std::string thrown = "no";
  try {
    ce::registry::runInTransaction([]() -> LONG {
      writeEverything();
      throw std::runtime_error("part way");
    });
  } catch (const std::runtime_error& e) {
    thrown = e.what();
  }
  answerText("throwing body, exception passed on", thrown);
  after = state();
  answerText("after a throwing body as before", after == before ? "yes" : after);
}

void committedBodies() {
  std::string before = freshScene();
  LONG written = ERROR_SUCCESS;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    written = writeEverything();
    return ERROR_SUCCESS;
  });
  answerCode("committed body result", rc);
  std::string committed = state();
  answerText("after a committed body", "writes " + std::to_string(written) + ", then " + committed);
  // The next transactions, failing or not, leave the commit as it is.
  rc = ce::registry::runInTransaction([]() -> LONG { return kBodyFailure; });
  answerCode("failing body after a commit result", rc);
  std::string later = state();
  answerText("commit kept by the next transactions", later == committed ? "yes" : later);
}

void nestedBodies() {
  freshScene();
  LONG inner = ERROR_SUCCESS;
  long long seenAfterInner = 0;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
    HKEY keep = openKey(root, L"Keep");
    setNumber(keep, L"a", 10);
    inner = ce::registry::runInTransaction([&]() -> LONG {
      setNumber(keep, L"a", 11);
      setNumber(keep, L"inner", 12);
      HKEY made = createKey(root, L"Inner\\Deeper");
      if (made) RegCloseKey(made);
      RegDeleteKeyW(root, L"Doomed");
      return kBodyFailure;
    });
    seenAfterInner = number(L"Keep", L"a");
    setNumber(keep, L"outer", 13);
    RegCloseKey(keep);
    RegCloseKey(root);
    return ERROR_SUCCESS;
  });
  answerCode("nested, inner result", inner);
  answer("nested, outer sees after the inner failed", "a=%lld", seenAfterInner);
  answerCode("nested, outer result", rc);
  answerText("nested, after the outer committed", state());

  freshScene();
  std::string thrown = "no";
  rc = ce::registry::runInTransaction([&]() -> LONG {
    HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
    HKEY keep = openKey(root, L"Keep");
    setNumber(keep, L"a", 20);
    try {
      ce::registry::runInTransaction([&]() -> LONG {
        setNumber(keep, L"a", 21);
        RegDeleteValueW(keep, L"s");
        throw std::runtime_error("inner");
      });
    } catch (const std::runtime_error& e) {
      thrown = e.what();
    }
    RegCloseKey(keep);
    RegCloseKey(root);
    return ERROR_SUCCESS;
  });
  answerText("nested, inner exception passed on", thrown);
  answerCode("nested throwing, outer result", rc);
  answerText("nested throwing, after the outer committed", state());

  std::string before = freshScene();
  rc = ce::registry::runInTransaction([&]() -> LONG {
    HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
    setNumber(root, L"outer", 30);
    LONG innerRc = ce::registry::runInTransaction([&]() -> LONG { return writeEverything(); });
    RegCloseKey(root);
    return innerRc == ERROR_SUCCESS ? kBodyFailure : innerRc;
  });
  answerCode("nested, outer fails after the inner succeeded", rc);
  std::string after = state();
  answerText("nested, after the outer failed as before", after == before ? "yes" : after);
}

#ifdef _WIN32
class Thread {
 public:
  explicit Thread(std::function<void()> run) : run_(std::move(run)) {
    handle_ = CreateThread(nullptr, 0, &Thread::start, this, 0, nullptr);
  }
  ~Thread() {
    if (handle_) {
      WaitForSingleObject(handle_, INFINITE);
      CloseHandle(handle_);
    }
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  static DWORD WINAPI start(void* self) {
    static_cast<Thread*>(self)->run_();
    return 0;
  }
  std::function<void()> run_;
  HANDLE handle_ = nullptr;
};
#else
class Thread {
 public:
  explicit Thread(std::function<void()> run) : thread_(std::move(run)) {}
  ~Thread() { thread_.join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

 private:
  std::thread thread_;
};
#endif

void waitingThread() {
  freshScene();
  std::atomic<bool> calling{false};
  std::atomic<bool> entered{false};
  std::atomic<bool> done{false};
  std::atomic<long long> seen{-2};
  std::atomic<LONG> secondResult{-1};
  bool enteredEarly = false;
  bool sawCall = false;
  LONG rc = ERROR_SUCCESS;
  {
    std::unique_ptr<Thread> second;
    rc = ce::registry::runInTransaction([&]() -> LONG {
      HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
      HKEY keep = openKey(root, L"Keep");
      setNumber(keep, L"a", 40);
      RegCloseKey(keep);
      RegCloseKey(root);
      second = std::make_unique<Thread>([&] {
        calling = true;
        secondResult = ce::registry::runInTransaction([&]() -> LONG {
          entered = true;
          seen = number(L"Keep", L"a");
          HKEY r = openKey(HKEY_LOCAL_MACHINE, kRoot);
          HKEY k = openKey(r, L"Keep");
          LONG written = setNumber(k, L"second", 41);
          RegCloseKey(k);
          RegCloseKey(r);
          return written;
        });
        done = true;
      });
      sawCall = waitFor([&] { return calling.load(); }, kMustCome);
      // A second thread that gets in now shares a transaction that is about to fail.
      enteredEarly = waitFor([&] { return entered.load(); }, kMustNotCome);
      return kBodyFailure;
    });
    waitFor([&] { return done.load(); }, kMustCome);
  }
  answerText("second thread, called while the first ran", sawCall ? "yes" : "no");
  answerText("second thread, entered before the first ended", enteredEarly ? "yes" : "no");
  answerCode("second thread, first result", rc);
  answer("second thread, its result and what it read", "%ld a=%lld",
         static_cast<long>(secondResult.load()), seen.load());
  answerText("second thread, after both", state());
}

void waitingProcess() {
  freshScene();
  Child child{};
  std::string whileHeld;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    HKEY root = openKey(HKEY_LOCAL_MACHINE, kRoot);
    HKEY keep = openKey(root, L"Keep");
    setNumber(keep, L"a", 50);
    RegCloseKey(keep);
    RegCloseKey(root);
    child = startChild("reader");
    // A reader that gets in now sees a write about to be taken back.
    whileHeld = childEnd(child, kMustNotCome);
    return kBodyFailure;
  });
  answerCode("second process, first result", rc);
  answerText("second process, while the first ran", whileHeld);
  answerText("second process, then", childEnd(child, kMustCome));
  answerText("second process, after both", state());
}

void endedChildren() {
  std::string before = freshScene();
  for (const char* how : {"exit-inside", "killed-inside"}) {
    freshScene();
    Child child = startChild(how);
    std::string end = childEnd(child, kMustCome);
    answerText((std::string(how) + ", child").c_str(), end);
    std::string after = state();
    answerText((std::string(how) + ", next transaction as before").c_str(),
               after == before ? "yes" : after);
  }

  freshScene();
  conformance::freshFolder(kFolder);
  Child child = startChild("killed-while-waited-for");
  bool inside = waitFor([] { return markerThere(L"inside"); }, kMustCome);
  answerText("killed while waited for, child inside", inside ? "yes" : "no");
  leaveMarker(L"go");
  // Asks at once: the child may still hold the transaction, and is then waited for.
  std::string after = state();
  answerText("killed while waited for, child", childEnd(child, kMustCome));
  answerText("killed while waited for, next transaction as before",
             after == before ? "yes" : after);
  conformance::removeTree(kFolder);
}

}  // namespace

#ifdef _WIN32
// A device of the area's own: the home is given before the first transaction, and
// HKEY_LOCAL_MACHINE, which the program redirected before main() to the default device's
// key, follows it. Its children inherit the home and redirect at their start.
const WCHAR* const kHome = L"\\conf_regtxn_home";
void setUpHome() {
  conformance::removeTree(kHome);
  SetEnvironmentVariableW(L"CE_DEVICE_HOME", L"C:\\conf_regtxn_home");
  if (LONG rc = ce::win32::redirectMachineKey())
    std::fprintf(stderr, "HKEY_LOCAL_MACHINE not redirected: %ld\n", static_cast<long>(rc));
}
void tearDownHome() {
  std::wstring system;
  if (ce::win32::storeFolder(system) == ERROR_SUCCESS) {
    RegDeleteTreeW(HKEY_CURRENT_USER, ce::win32::undoJournalKeyPath(system).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, ce::win32::machineKeyPath(system).c_str());
  }
  conformance::removeTree(kHome);
}
#else
void setUpHome() {}
void tearDownHome() {}
#endif

int main(int argc, char** argv) {
  if (argc > 1) {
    if (std::strcmp(argv[1], "reader") == 0) return readerChild();
    return endingChild(argv[1]);
  }
  setUpHome();
  failingBodies();
  committedBodies();
  nestedBodies();
  waitingThread();
  waitingProcess();
  endedChildren();
  deleteTree(HKEY_LOCAL_MACHINE, kRoot);
  RegDeleteValueW(HKEY_LOCAL_MACHINE, kMachineValue);
  tearDownHome();
  return 0;
}
