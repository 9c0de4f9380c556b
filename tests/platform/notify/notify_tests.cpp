// Run-at-time requests and the scheduler that carries them out.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/notify/change_watcher.h"
#include "platform/linux/notify/request_store.h"
#include "platform/notify.h"
#include "platform/testing.h"
#include "tests/platform/child_processes.h"
#include "tests/support/device_test.h"
#include "tests/support/locale_for_scope.h"
#include "tests/support/run_at_time_store.h"
#include "tests/support/sqlite_file.h"

namespace {

using ce::test::readFile;
using ce::test::waitFor;

using Lines = std::vector<std::string>;
constexpr const wchar_t* launcher = L"\\Program Files\\Quillbex\\startsync.exe";

SYSTEMTIME at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second = 0,
              WORD milliseconds = 0) {
  return SYSTEMTIME{year, month, 0, day, hour, minute, second, milliseconds};
}

std::string text(const SYSTEMTIME& t) {
  char out[64];
  std::snprintf(out, sizeof out, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return out;
}

// A device path as ASCII, '?' for every other character.
std::string ascii(std::wstring_view path) {
  std::string out;
  for (wchar_t c : path) out += static_cast<char>(c < 128 ? c : '?');
  return out;
}

// "<time> <device path>" per pending request, earliest first.
Lines pending() {
  Lines lines;
  for (const auto& request : ce::notify::pendingRequests())
    lines.push_back(text(request.due) + " " + ascii(request.app));
  return lines;
}

using RunAtTimeTest = ce::test::DeviceTest;
const Lines launcherAtNoon = {"2024-03-01 12:00:00.000 \\Program Files\\Quillbex\\startsync.exe"};

// Why the scheduler could not be woken, as this process heard of it.
std::vector<std::string> wakeFailures;
void collectWakeFailure(const wchar_t* app, const char* reason) {
  wakeFailures.push_back(ascii(app) + ": " + reason);
}

// The request store gives back what SQLite cached once a burst is handled, and goes on
// (catches a trim that never reaches the store, and one that leaves it unusable).
TEST_F(RunAtTimeTest, AnIdleTrimGivesBackTheStoresCachedPagesAndItGoesOn) {
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0);
  for (int i = 0; i < 200; ++i)
    ASSERT_TRUE(CeRunAppAtTime((L"\\Windows\\" + std::wstring(150, L'p') + std::to_wstring(i) +
                                L".exe").c_str(),
                               &noon));
  const sqlite3_int64 cached = sqlite3_memory_used();
  ce::trimIdleMemory();
  EXPECT_LT(sqlite3_memory_used(), cached - 16 * 1024);
  ASSERT_TRUE(CeRunAppAtTime(launcher, &noon));
  EXPECT_EQ(pending().size(), 201u);
}

TEST_F(RunAtTimeTest, LaterRequestForTheSameProgramReplacesTheEarlierWhateverTheCase) {
  SYSTEMTIME first = at(2024, 3, 1, 12, 0), second = at(2024, 3, 1, 12, 30, 15, 250);
  ASSERT_TRUE(CeRunAppAtTime(launcher, &first));
  ASSERT_TRUE(CeRunAppAtTime(L"\\Windows\\other.exe", &first));
  ASSERT_TRUE(CeRunAppAtTime(L"\\PROGRAM FILES\\quillbex\\StartSync.EXE", &second));
  // Folded beyond ASCII too, in a process that set no locale, as the listener sets none; the
  // same time under another spelling is stored as spelt.
  ce::test::LocaleForScope plainC("C");
  ASSERT_TRUE(CeRunAppAtTime(L"\\\u00dcbersicht.exe", &second));
  ASSERT_TRUE(CeRunAppAtTime(L"\\\u00fcBERSICHT.exe", &second));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\Windows\\other.exe",
                              "2024-03-01 12:30:15.250 \\PROGRAM FILES\\quillbex\\StartSync.EXE",
                              "2024-03-01 12:30:15.250 \\?BERSICHT.exe"}));

  // A null time removes the request, again whatever the case; removing nothing succeeds.
  ASSERT_TRUE(CeRunAppAtTime(L"\\program files\\quillbex\\startsync.exe", nullptr));
  ASSERT_TRUE(CeRunAppAtTime(L"\\\u00dcbersicht.exe", nullptr));
  ASSERT_TRUE(CeRunAppAtTime(L"\\never requested.exe", nullptr));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\Windows\\other.exe"}));
}

TEST_F(RunAtTimeTest, BadRequestsFailWithTheirErrorAndLeaveStoredRequestsIntact) {
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0);
  ASSERT_TRUE(CeRunAppAtTime(launcher, &noon));

  std::wstring longest(MAX_PATH - 1, L'x'), tooLong(MAX_PATH, L'x');
  longest[0] = tooLong[0] = L'\\';
  struct Case {
    const wchar_t* app;
    SYSTEMTIME time;
    DWORD error;
  } cases[] = {
      {nullptr, noon, ERROR_INVALID_PARAMETER},
      {L"", noon, ERROR_INVALID_PARAMETER},
      {tooLong.c_str(), noon, ERROR_FILENAME_EXCED_RANGE},
      {L"\\Windows\\startsync*.exe", noon, ERROR_INVALID_NAME},
      {launcher, at(2024, 13, 1, 12, 0), ERROR_INVALID_PARAMETER},
      {launcher, SYSTEMTIME{}, ERROR_INVALID_PARAMETER},  // DT_AddDiff's answer out of range
  };
  for (const Case& c : cases) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CeRunAppAtTime(c.app, &c.time)) << (c.app ? std::wstring(c.app).size() : 0);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(pending(), launcherAtNoon);
  SYSTEMTIME leapDay = at(2024, 2, 29, 23, 59, 59, 999);
  EXPECT_TRUE(CeRunAppAtTime(longest.c_str(), &leapDay));  // the longest path still fits
}

TEST_F(RunAtTimeTest, StoreLockedByAnotherWriterWaitsABoundedTimeThenFailsCleanly) {
  // Requests still to come are kept to the second, so the same second again writes nothing.
  ce::testing::freezeLocalTime(at(2024, 3, 1, 11, 0));
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0), later = at(2024, 3, 1, 13, 0, 0, 250);
  ASSERT_TRUE(CeRunAppAtTime(launcher, &noon));
  ce::testing::setRunAtTimeBusyTimeout(100);
  ce::test::StoreWriter other(hostPath("system/notify.db"), "BEGIN EXCLUSIVE");
  ASSERT_TRUE(other.held());

  // The request already pending, to the second, needs no write: the lock is no obstacle.
  SYSTEMTIME noonAndABit = at(2024, 3, 1, 12, 0, 0, 400);
  EXPECT_TRUE(CeRunAppAtTime(launcher, &noon));
  EXPECT_TRUE(CeRunAppAtTime(launcher, &noonAndABit));

  auto start = std::chrono::steady_clock::now();
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(launcher, &later));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::seconds(10));
  // The scheduler's wait for a writer part way through fails too, rather than going on as if
  // the store were free.
  EXPECT_FALSE(ce::notify::store::awaitWriters().ok());

  // Readers are not blocked; once the lock goes the same process writes again.
  EXPECT_EQ(pending(), launcherAtNoon);
  other.release();
  EXPECT_TRUE(ce::notify::store::awaitWriters().ok());
  EXPECT_TRUE(CeRunAppAtTime(launcher, &later));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 13:00:00.000 \\Program Files\\Quillbex\\startsync.exe"}));

  // Once claimed, the same request is a new one again.
  ASSERT_TRUE(ce::notify::claimRequest(ce::notify::pendingRequests().front()));
  EXPECT_TRUE(CeRunAppAtTime(launcher, &later));
  EXPECT_EQ(ce::notify::pendingRequests().size(), 1u);
}

TEST_F(RunAtTimeTest, UnusableStoreRefusesRequestsAndIsLeftAsItWas) {
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0);
  std::string store = hostPath("system/notify.db");

  // Not a file at all.
  std::filesystem::create_directories(store);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(launcher, &noon));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_THROW(ce::notify::pendingRequests(), ce::notify::StoreError);
  std::filesystem::remove(store);

  // A format from a newer build: never written by this one.
  ASSERT_EQ(ce::test::sqlExec(store, "CREATE TABLE requests(x); INSERT INTO requests "
                                     "VALUES('kept'); PRAGMA user_version = 2"),
            SQLITE_OK);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(launcher, &noon));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BADDB));
  EXPECT_EQ(ce::test::sqlValue(store, "SELECT group_concat(x) FROM requests"), "kept");
  std::filesystem::remove(store);

  // Another program's database, unversioned: refused and named, not adopted (no table of
  // ours, no journal mode switched in its header).
  ASSERT_EQ(ce::test::sqlExec(store, "CREATE TABLE contacts(name); INSERT INTO contacts "
                                     "VALUES('kept')"),
            SQLITE_OK);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(launcher, &noon));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BADDB));
  try {
    ce::notify::pendingRequests();
    ADD_FAILURE() << "a foreign store was read";
  } catch (const ce::notify::StoreError& e) {
    EXPECT_STREQ(e.what(), "notify.db: not a run-at-time store of this device");
  }
  EXPECT_EQ(ce::test::sqlValue(store, "SELECT count(*) FROM sqlite_master"), "1");
  EXPECT_EQ(ce::test::sqlValue(store, "PRAGMA journal_mode"), "delete");
}

TEST_F(RunAtTimeTest, TwoProcessesRequestingAtOnceOnAFreshDeviceKeepBothRequests) {
  // Both processes create the store and then write in a burst, released together.
  EXPECT_TRUE(ce::test::allAtOnce(2, [](int child) {
    for (WORD minute = 0; minute < 30; ++minute) {
      SYSTEMTIME t = at(2024, 3, 1, 12, minute);
      if (!CeRunAppAtTime(child ? L"\\second.exe" : L"\\first.exe", &t)) return 10 + minute;
    }
    return 0;
  }));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:29:00.000 \\first.exe",
                              "2024-03-01 12:29:00.000 \\second.exe"}));
}

// A store replaced under its name is the store from then on: a request goes to it, and what
// the old file left beside it is not taken for the new one's. While another process still
// holds the old file, the new one waits for it to let go.
TEST_F(RunAtTimeTest, RequestsFollowAStoreReplacedByARename) {
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0);
  std::string store = hostPath("system/notify.db");
  ASSERT_TRUE(CeRunAppAtTime(L"\\a.exe", &noon));
  std::filesystem::rename(ce::test::storeMadeElsewhere(home(), L"\\b.exe", noon), store);
  ASSERT_TRUE(CeRunAppAtTime(L"\\c.exe", &noon));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\b.exe",
                              "2024-03-01 12:00:00.000 \\c.exe"}));

  // Another process with the file open, as a scheduler or a listener keeps it. (A child of a
  // process with the file open would share that process's idea of its locks.)
  ce::testing::reset();
  ce::test::Pipe ready, release;
  ce::test::ChildProcess holder([&] {
    sqlite3* db = nullptr;
    bool opened = sqlite3_open(store.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, "PRAGMA user_version", nullptr, nullptr, nullptr) == SQLITE_OK;
    ready.send(opened);
    release.block();
    sqlite3_close(db);
    return 0;
  });
  bool opened = false;
  ASSERT_TRUE(ready.receive(opened) && opened);
  ASSERT_TRUE(CeRunAppAtTime(L"\\c.exe", &noon));
  std::filesystem::rename(ce::test::storeMadeElsewhere(home(), L"\\d.exe", noon), store);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(L"\\e.exe", &noon));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  release.send('x');
  EXPECT_EQ(holder.wait(), 0);
  ASSERT_TRUE(CeRunAppAtTime(L"\\e.exe", &noon));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\d.exe",
                              "2024-03-01 12:00:00.000 \\e.exe"}));
}

// The same request again is known pending without reading the store, but only until someone
// writes the store: one the scheduler took away meanwhile is asked for again (catches a
// remembered answer outliving another connection's change).
TEST_F(RunAtTimeTest, ARequestRemovedElsewhereIsRequestedAgain) {
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0);
  ASSERT_TRUE(CeRunAppAtTime(L"\\a.exe", &noon));
  ASSERT_TRUE(CeRunAppAtTime(L"\\a.exe", &noon));
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(hostPath("system/notify.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "DELETE FROM requests", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  ASSERT_TRUE(CeRunAppAtTime(L"\\a.exe", &noon));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\a.exe"}));
}

// A request whose wake-up cannot be given stands; the requesting process hears why, once
// until a wake-up succeeds again.
TEST_F(RunAtTimeTest, AFailedWakeUpIsReportedOncePerStreakAndTheRequestStands) {
  wakeFailures.clear();
  ce::notify::setWakeFailureReceiver(&collectWakeFailure);
  std::string marker = hostPath("system/notify.committed");
  std::filesystem::create_directories(marker);
  SYSTEMTIME noon = at(2024, 3, 1, 12, 0), later = at(2024, 3, 1, 13, 0);
  EXPECT_TRUE(CeRunAppAtTime(launcher, &noon));
  EXPECT_TRUE(CeRunAppAtTime(launcher, &later));
  EXPECT_EQ(pending(),
            (Lines{"2024-03-01 13:00:00.000 \\Program Files\\Quillbex\\startsync.exe"}));
  std::filesystem::remove(marker);
  EXPECT_TRUE(CeRunAppAtTime(launcher, &noon));
  std::filesystem::remove(marker);
  std::filesystem::create_directory(marker);
  EXPECT_TRUE(CeRunAppAtTime(L"\\other.exe", &noon));
  const std::string reason = ": cannot touch system/notify.committed: Is a directory";
  EXPECT_EQ(wakeFailures, (Lines{"\\Program Files\\Quillbex\\startsync.exe" + reason,
                                 "\\other.exe" + reason}));
}

class SchedulerTest : public ce::test::DeviceTest {
 protected:
  // A program on the device that appends "<name> args=<n> home=<CE_DEVICE_HOME>" to
  // fs/started.txt and writes one line to each of its outputs.
  void install(const std::string& devicePath, const std::string& name, bool executable = true) {
    std::string host = hostPath("fs" + devicePath);
    for (char& c : host)
      if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    ce::test::writeFile(host, "#!/bin/sh\necho \"" + name + " args=$# home=$CE_DEVICE_HOME\" >> "
                              "\"$CE_DEVICE_HOME/fs/started.txt\"\necho out; echo err >&2\n");
    chmod(host.c_str(), executable ? 0755 : 0644);
  }

  std::string started() const { return readFile(hostPath("fs/started.txt")); }

  void request(const wchar_t* app, const SYSTEMTIME& due) {
    ASSERT_TRUE(CeRunAppAtTime(app, &due));
  }
};

TEST_F(SchedulerTest, DueRequestsStartOnceEarliestFirstWithTheDeviceHomeAndLaterOnesWait) {
  install("/a.exe", "a");
  install("/Program Files/Quillbex/startsync.exe", "sync");
  install("/c.exe", "c");
  request(launcher, at(2024, 3, 1, 12, 0));
  request(L"\\a.exe", at(2024, 2, 28, 23, 0));
  request(L"\\c.exe", at(2024, 3, 1, 18, 0));

  ce::notify::Pass early = ce::notify::startDueRequests(at(2024, 2, 28, 22, 59, 59, 999));
  EXPECT_TRUE(early.started.empty());
  ASSERT_TRUE(early.nextDue);
  EXPECT_EQ(text(*early.nextDue), "2024-02-28 23:00:00.000");

  ce::notify::Pass due = ce::notify::startDueRequests(at(2024, 3, 1, 12, 0));
  EXPECT_EQ(due.storeError, "");
  ASSERT_EQ(due.started.size(), 2u);
  EXPECT_EQ(due.started[0].app, L"\\a.exe");
  EXPECT_EQ(due.started[1].app, launcher);
  EXPECT_GT(due.started[1].processId, 0u);
  ASSERT_TRUE(due.nextDue);
  EXPECT_EQ(text(*due.nextDue), "2024-03-01 18:00:00.000");
  EXPECT_EQ(pending(), (Lines{"2024-03-01 18:00:00.000 \\c.exe"}));

  // Each ran once, without arguments, with the device home, its output kept.
  ASSERT_TRUE(waitFor([] { return ce::notify::reapPrograms() == 0; }));
  EXPECT_TRUE(ce::notify::startDueRequests(at(2024, 3, 1, 12, 5)).started.empty());
  const std::string a = "a args=0 home=" + home() + "\n";
  const std::string sync = "sync args=0 home=" + home() + "\n";
  EXPECT_TRUE(started() == a + sync || started() == sync + a) << started();
  EXPECT_EQ(readFile(hostPath("run/startsync.exe.out")), "out\nerr\n");
}

TEST_F(SchedulerTest, NewerRequestWrittenAfterTheListingIsKeptAndNotStartedEarly) {
  request(launcher, at(2024, 3, 1, 12, 0));
  std::vector<ce::notify::Request> due = ce::notify::dueRequests(at(2024, 3, 1, 12, 5));
  ASSERT_EQ(due.size(), 1u);

  // Another process (the listener, on a new change) asks again before the claim.
  request(launcher, at(2024, 3, 1, 12, 20));
  EXPECT_FALSE(ce::notify::claimRequest(due[0]));
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:20:00.000 \\Program Files\\Quillbex\\startsync.exe"}));

  // Unchanged, the same request is claimed exactly once.
  due = ce::notify::dueRequests(at(2024, 3, 1, 12, 20));
  ASSERT_EQ(due.size(), 1u);
  EXPECT_TRUE(ce::notify::claimRequest(due[0]));
  EXPECT_FALSE(ce::notify::claimRequest(due[0]));
  EXPECT_TRUE(pending().empty());
}

TEST_F(SchedulerTest, ProgramThatCannotStartIsDroppedWithOneLineAndOthersStillStart) {
  install("/Program Files/Quillbex/startsync.exe", "sync");
  install("/plain.exe", "plain", false);
  std::filesystem::create_directories(hostPath("fs/folder.exe"));
  ce::test::writeFile(hostPath("fs/noscript.exe"), "echo no interpreter line\n");
  chmod(hostPath("fs/noscript.exe").c_str(), 0755);
  request(L"\\missing.exe", at(2024, 3, 1, 11, 0));
  request(L"\\plain.exe", at(2024, 3, 1, 11, 1));
  request(L"\\folder.exe", at(2024, 3, 1, 11, 2));
  request(L"\\noscript.exe", at(2024, 3, 1, 11, 3));
  request(launcher, at(2024, 3, 1, 11, 4));

  ::testing::internal::CaptureStderr();
  ce::notify::Pass pass = ce::notify::startDueRequests(at(2024, 3, 1, 12, 0));
  std::string errors = ::testing::internal::GetCapturedStderr();

  ASSERT_EQ(pass.started.size(), 1u);
  EXPECT_EQ(pass.started[0].app, launcher);
  EXPECT_EQ(errors,
            "scheduler: cannot start \\missing.exe: No such file or directory; request dropped\n"
            "scheduler: cannot start \\plain.exe: not executable; request dropped\n"
            "scheduler: cannot start \\folder.exe: not a file; request dropped\n"
            "scheduler: cannot start \\noscript.exe: Exec format error; request dropped\n");
  EXPECT_TRUE(pending().empty());
  ASSERT_TRUE(waitFor([this] { return started() == "sync args=0 home=" + home() + "\n"; }));
}

// The loop also follows a store replaced by a rename, the new store holding a request due at
// once. (A start due at once without the wake-up marker is the listener process test's.)
TEST_F(SchedulerTest, LoopStartsOverdueRequestsWakesForNewOnesAndAReplacedStoreReapsAndStops) {
  install("/overdue.exe", "overdue");
  install("/Program Files/Quillbex/startsync.exe", "sync");
  install("/replaced.exe", "replaced");
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Made before the loop's thread runs: a child of a process with threads may find a lock held.
  std::string replacement = ce::test::storeMadeElsewhere(home(), L"\\replaced.exe", now);
  SYSTEMTIME yesterday = now;
  yesterday.wYear = static_cast<WORD>(now.wYear - 1);
  if (yesterday.wMonth == 2 && yesterday.wDay == 29) yesterday.wDay = 28;
  request(L"\\overdue.exe", yesterday);

  std::atomic<bool> stop{false};
  std::mutex linesMutex;
  std::vector<std::string> lines;
  int result = -1;
  std::thread loop([&] {
    result = ce::notify::runScheduler(stop, [&](const std::string& line) {
      std::lock_guard<std::mutex> lock(linesMutex);
      lines.push_back(line);
    });
  });
  auto reported = [&] {
    std::lock_guard<std::mutex> lock(linesMutex);
    return lines;
  };

  ASSERT_TRUE(waitFor([&] { return reported().size() == 1; }));
  EXPECT_TRUE(
      std::regex_match(reported()[0], std::regex(R"(.{19} started \\overdue\.exe \(pid \d+\))")))
      << reported()[0];
  ASSERT_TRUE(waitFor([this] { return started().starts_with("overdue"); }));

  // Nothing is pending now, so the loop sleeps without a timeout: only the new request wakes
  // it. It also reaps the program that ended.
  std::string pid = std::regex_replace(reported()[0], std::regex(R"(.*pid (\d+)\))"), "$1");
  EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists("/proc/" + pid); })) << pid;
  GetLocalTime(&now);
  request(launcher, now);
  ASSERT_TRUE(waitFor([&] { return reported().size() == 2; }));
  EXPECT_NE(reported()[1].find(" started \\Program Files\\Quillbex\\startsync.exe (pid "),
            std::string::npos);
  ASSERT_TRUE(waitFor([this] { return started().find("sync args=0") != std::string::npos; }));
  std::filesystem::rename(replacement, hostPath("system/notify.db"));
  EXPECT_TRUE(waitFor([this] { return started().find("replaced args=0") != std::string::npos; }));

  stop = true;
  ce::notify::wakeScheduler();
  loop.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(reported().size(), 3u);
}

// A request's commit wakes the watcher, and so does a write to the store's log, which comes
// before the commit is visible: the loop then waits for the writer before it reads. The
// other stores and the readers' index wake nothing.
TEST_F(SchedulerTest, WatcherSleepsThroughUnrelatedFilesAndWakesForTheStore) {
  ce::notify::ChangeWatcher watcher;
  ce::test::writeFile(hostPath("system/registry.db"), "x");
  ce::test::writeFile(hostPath("system/registry.db-wal"), "x");
  ce::test::writeFile(hostPath("system/notify.db-shm"), "x");
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::timeout);
  std::filesystem::remove(hostPath("system/notify.db-shm"));
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::timeout);
  ce::test::writeFile(hostPath("system/notify.committed"), "");
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::changed);
  ce::test::writeFile(hostPath("system/notify.db-wal"), "x");
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::logWritten);
  std::filesystem::remove(hostPath("system/notify.db-wal"));

  // Its log and then its marker: the wait for the writer covers both.
  request(launcher, at(2024, 3, 1, 12, 0));
  EXPECT_EQ(watcher.wait(10000), ce::notify::ChangeWatcher::Wake::logWritten);
  // The wake is consumed by the wait that saw it.
  ce::notify::wakeScheduler();
  EXPECT_EQ(watcher.wait(10000), ce::notify::ChangeWatcher::Wake::woken);
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::timeout);
}

// A claim the store refuses (another process holds it past the wait) starts nothing and leaves
// the request for the next pass.
TEST_F(SchedulerTest, ClaimTheStoreRefusesStartsNothingAndKeepsTheRequest) {
  install("/Program Files/Quillbex/startsync.exe", "sync");
  request(launcher, at(2024, 3, 1, 12, 0));
  ce::testing::setRunAtTimeBusyTimeout(100);
  ce::test::StoreWriter other(hostPath("system/notify.db"));
  ASSERT_TRUE(other.held());
  ce::notify::Pass held = ce::notify::startDueRequests(at(2024, 3, 1, 12, 1));
  EXPECT_TRUE(held.started.empty());
  EXPECT_NE(held.storeError, "");
  other.release();
  EXPECT_EQ(pending(), (Lines{"2024-03-01 12:00:00.000 \\Program Files\\Quillbex\\startsync.exe"}));
  EXPECT_FALSE(std::filesystem::exists(hostPath("fs/started.txt")));

  EXPECT_EQ(ce::notify::startDueRequests(at(2024, 3, 1, 12, 1)).started.size(), 1u);
  ASSERT_TRUE(waitFor([] { return ce::notify::reapPrograms() == 0; }));
  EXPECT_EQ(started(), "sync args=0 home=" + home() + "\n");
}

// Two schedulers of one device, in two processes, take the same due requests at the same
// moment: each program starts exactly once.
TEST_F(SchedulerTest, TwoSchedulersNeverStartOneRequestTwice) {
  constexpr int programs = 12;
  for (int i = 0; i < programs; ++i) {
    // Appended in place: GCC 12 at -O3 warns (-Wrestrict, falsely) on `"..." + string`.
    std::string name = "p";
    name += std::to_string(i);
    install("/" + name + ".exe", name);
    std::wstring app = L"\\" + std::wstring(name.begin(), name.end()) + L".exe";
    request(app.c_str(), at(2024, 3, 1, 12, 0));
  }
  EXPECT_TRUE(ce::test::allAtOnce(2, [](int) {
    ce::notify::Pass pass = ce::notify::startDueRequests(at(2024, 3, 1, 12, 1));
    while (ce::notify::reapPrograms() != 0) usleep(1000);
    return pass.storeError.empty() ? 0 : 1;
  }));
  std::string lines = started();
  for (int i = 0; i < programs; ++i) {
    std::string line = "p";
    line.append(std::to_string(i)).append(" args=0");
    size_t first = lines.find(line + " ");
    EXPECT_NE(first, std::string::npos) << line;
    EXPECT_EQ(lines.find(line + " ", first + 1), std::string::npos) << line;
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), programs);
  EXPECT_TRUE(pending().empty());
}

}  // namespace
