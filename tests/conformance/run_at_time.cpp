// Run-at-time: CeRunAppAtTime's checks, replacements and removals, what the request store
// holds after each step, and what a scheduler pass and the scheduler loop start. Both sides
// are ours (Wine has no run-at-time), so the Linux emulation and the Windows-side library
// judge each other.
//
// The programs the scheduler starts are copies of this very program named "started-*.exe";
// started so, it only appends a line to "<its own path>.ran" and ends, and the area waits for
// that file with a deadline.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/notify.h"
#ifdef _WIN32
#include <process.h>

#include <filesystem>
#else
#include <sys/stat.h>

#include <filesystem>
#include <thread>
#endif

using conformance::answer;
using conformance::answerText;
using conformance::freshError;

namespace {

const WCHAR* const kFolder = L"\\conf_rat";

std::wstring program(const char* letter) {
  std::wstring path = std::wstring(kFolder) + L"\\started-";
  path += static_cast<WCHAR>(letter[0]);
  return path + L".exe";
}

// The marker a started copy leaves, and whether it is there.
#ifdef _WIN32
// The area makes its programs with CopyFileW, on the drive's root: asked through the standard
// library, not the device's GetFileAttributesW, which looks below CE_DEVICE_HOME.
bool exists(const std::wstring& devicePath) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(devicePath), error);
}
bool copySelfTo(const std::wstring& devicePath) {
  WCHAR self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  return length > 0 && length < MAX_PATH && CopyFileW(self, devicePath.c_str(), FALSE);
}
// Started by the scheduler: the program's own file name says so.
bool startedCopy() {
  WCHAR self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::wstring path(self, length);
  if (path.find(L"started-") == std::wstring::npos) return false;
  FILE* marker = _wfopen((path + L".ran").c_str(), L"a");
  if (marker) {
    std::fputs("ran\n", marker);
    std::fclose(marker);
  }
  return true;
}
void setUpHome() {
  conformance::removeTree(L"\\conf_rat_home");
  SetEnvironmentVariableW(L"CE_DEVICE_HOME", L"C:\\conf_rat_home");
}
void tearDownHome() { conformance::removeTree(L"\\conf_rat_home"); }
#else
bool exists(const std::wstring& devicePath) {
  std::error_code error;
  return std::filesystem::exists(conformance::hostPath(devicePath.c_str()), error);
}
bool copySelfTo(const std::wstring& devicePath) {
  std::error_code error;
  auto target = conformance::hostPath(devicePath.c_str());
  std::filesystem::copy_file("/proc/self/exe", target,
                             std::filesystem::copy_options::overwrite_existing, error);
  return !error && chmod(target.c_str(), 0700) == 0;
}
bool startedCopy(const char* self) {
  if (!std::strstr(self, "started-")) return false;
  FILE* marker = std::fopen((std::string(self) + ".ran").c_str(), "a");
  if (marker) {
    std::fputs("ran\n", marker);
    std::fclose(marker);
  }
  return true;
}
void setUpHome() {}
void tearDownHome() {}
#endif

// "ran" once the program's marker is there, "not started" after twenty seconds: well under
// the scheduler's longest sleep (a minute), so a start that waited for it fails the check.
std::string ranWithin(const std::wstring& app) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (exists(app + L".ran")) return "ran";
#ifdef _WIN32
    Sleep(10);
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
#endif
  }
  return "not started";
}

SYSTEMTIME at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second,
              WORD milliseconds) {
  SYSTEMTIME time{};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = milliseconds;
  time.wDayOfWeek = 6;  // wrong on purpose: the device ignores it
  return time;
}

std::string timeText(const SYSTEMTIME& time) {
  char text[96];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u d%u", time.wYear,
                time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                time.wMilliseconds, time.wDayOfWeek);
  return text;
}

// The store's requests, earliest first, or the store's error.
std::string pending() {
  try {
    std::string out;
    for (const ce::notify::Request& request : ce::notify::pendingRequests())
      out += (out.empty() ? "" : "; ") + conformance::text(request.app.c_str()) + " at " +
             timeText(request.due);
    return out.empty() ? "(none)" : out;
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what();
  }
}

std::string request(const std::wstring& app, const SYSTEMTIME* time) {
  return freshError([&] { return CeRunAppAtTime(app.c_str(), time); });
}

void refusals() {
  SYSTEMTIME future = at(2999, 1, 2, 3, 4, 5, 0);
  answerText("null path", freshError([&] { return CeRunAppAtTime(nullptr, &future); }));
  answerText("empty path", request(L"", &future));
  answerText("path of MAX_PATH characters",
             request(L"\\" + std::wstring(MAX_PATH - 1, L'p'), &future));
  answerText("path of MAX_PATH - 1 characters",
             request(L"\\" + std::wstring(MAX_PATH - 2, L'p'), nullptr));
  SYSTEMTIME month13 = at(2999, 13, 1, 0, 0, 0, 0);
  answerText("month 13", request(program("a"), &month13));
  SYSTEMTIME february30 = at(2999, 2, 30, 0, 0, 0, 0);
  answerText("30 February", request(program("a"), &february30));
  SYSTEMTIME year1600 = at(1600, 12, 31, 23, 59, 59, 0);
  answerText("year 1600", request(program("a"), &year1600));
  SYSTEMTIME ms1000 = at(2999, 1, 1, 0, 0, 0, 1000);
  answerText("1000 milliseconds", request(program("a"), &ms1000));
  answerText("star in the name", request(L"\\conf_rat\\st*r.exe", &future));
  answerText("pipe in the name", request(L"\\conf_rat\\pi|pe.exe", &future));
  answerText("pending after refusals", pending());
}

void replacements() {
  answerText("remove with nothing pending", request(program("b"), nullptr));
  SYSTEMTIME past = at(2001, 2, 3, 4, 5, 6, 789);
  answerText("request in the past", request(program("a"), &past));
  SYSTEMTIME future = at(2999, 1, 2, 3, 4, 5, 678);
  answerText("request to come", request(program("b"), &future));
  answerText("pending with the time to come kept to the second", pending());
  answerText("same request again", request(program("b"), &future));
  answerText("pending after the same request", pending());
  SYSTEMTIME later = at(2999, 6, 7, 8, 9, 10, 0);
  std::wstring upper = program("b");
  for (WCHAR& c : upper)
    if (c >= L'a' && c <= L'z') c = static_cast<WCHAR>(c - L'a' + L'A');
  answerText("request in other case", request(upper, &later));
  answerText("pending after the other case replaced it", pending());
  answerText("request through ..", request(L"\\conf_rat\\..\\conf_rat\\c.exe", &later));
  answerText("remove", request(program("b"), nullptr));
  answerText("remove through ..", request(L"\\conf_rat\\..\\conf_rat\\c.exe", nullptr));
  answerText("pending after removals", pending());
}

void claims() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  try {
    std::string due;
    for (const ce::notify::Request& r : ce::notify::dueRequests(now))
      due += (due.empty() ? "" : "; ") + conformance::text(r.app.c_str());
    answerText("due now", due.empty() ? "(none)" : due);
    ce::notify::Request wrong{program("a"), at(2001, 2, 3, 4, 5, 6, 788)};
    answer("claim at another time", "%s", ce::notify::claimRequest(wrong) ? "claimed" : "kept");
    ce::notify::Request right{program("a"), at(2001, 2, 3, 4, 5, 6, 789)};
    answer("claim at its time", "%s", ce::notify::claimRequest(right) ? "claimed" : "kept");
    answer("claim again", "%s", ce::notify::claimRequest(right) ? "claimed" : "kept");
  } catch (const std::exception& e) {
    answerText("claims failed", e.what());
  }
  answerText("pending after claims", pending());
}

void schedulerPass() {
  SYSTEMTIME past = at(2002, 3, 4, 5, 6, 7, 0);
  SYSTEMTIME future = at(2999, 9, 9, 9, 9, 9, 0);
  request(program("a"), &past);
  request(program("b"), &future);
  request(L"\\conf_rat\\missing.exe", &past);
  SYSTEMTIME now;
  GetLocalTime(&now);
  ce::notify::Pass pass = ce::notify::startDueRequests(now);
  std::string started;
  for (const ce::notify::StartedProgram& program : pass.started)
    started += (started.empty() ? "" : "; ") + conformance::text(program.app.c_str()) + " due " +
               timeText(program.due) + (program.processId ? " with a pid" : " without a pid");
  answerText("pass started", started.empty() ? "(none)" : started);
  answerText("pass next due", pass.nextDue ? timeText(*pass.nextDue) : "(none)");
  answerText("pass store error", pass.storeError.empty() ? "(none)" : pass.storeError);
  answerText("program of the pass", ranWithin(program("a")));
  answerText("pending after the pass", pending());
}

// "started <path>" for each line the loop reported, without its time and pid.
std::string withoutTimeAndPid(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    size_t from = line.find(" started ");
    size_t to = line.rfind(" (pid ");
    out += (out.empty() ? "" : "; ") +
           (from == std::string::npos || to == std::string::npos || to < from
                ? "malformed: " + line
                : line.substr(from + 1, to - from - 1));
  }
  return out.empty() ? "(none)" : out;
}

struct Loop {
  std::atomic<bool> stop{false};
  std::atomic<int> result{-1};
  std::vector<std::string> lines;  // read once the loop has ended
};

#ifdef _WIN32
unsigned __stdcall runLoop(void* argument) {
  auto* loop = static_cast<Loop*>(argument);
  loop->result = ce::notify::runScheduler(
      loop->stop, [loop](const std::string& line) { loop->lines.push_back(line); });
  return 0;
}
#endif

void schedulerLoop() {
  // Overdue before the loop starts: started at once.
  SYSTEMTIME past = at(2003, 4, 5, 6, 7, 8, 0);
  request(program("c"), &past);
  Loop loop;
#ifdef _WIN32
  HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &runLoop, &loop, 0, nullptr));
#else
  std::thread thread([&loop] {
    loop.result = ce::notify::runScheduler(
        loop.stop, [&loop](const std::string& line) { loop.lines.push_back(line); });
  });
#endif
  answerText("overdue at the loop's start", ranWithin(program("c")));
  // The loop now sleeps until b's time in 2999, a minute at most: a request that falls due
  // meanwhile must wake it through its commit.
  SYSTEMTIME soon;
  GetLocalTime(&soon);
  answerText("request due now while the loop sleeps", request(program("d"), &soon));
  answerText("due while the loop sleeps", ranWithin(program("d")));
  loop.stop = true;
  ce::notify::wakeScheduler();
#ifdef _WIN32
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  thread.join();
#endif
  answer("loop result", "%d", loop.result.load());
  answerText("loop reported", withoutTimeAndPid(loop.lines));
  answerText("pending after the loop", pending());
}

}  // namespace

int main(int, char** argv) {
#ifdef _WIN32
  (void)argv;
  if (startedCopy()) return 0;
#else
  if (startedCopy(argv[0])) return 0;
#endif
  setUpHome();
  conformance::freshFolder(kFolder);
  for (const char* letter : {"a", "b", "c", "d"}) copySelfTo(program(letter));
  refusals();
  replacements();
  claims();
  schedulerPass();
  schedulerLoop();
  conformance::removeTree(kFolder);
  tearDownHome();
  return 0;
}
