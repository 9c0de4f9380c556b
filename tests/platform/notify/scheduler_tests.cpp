#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify.h"
#include "platform/testing.h"
#include "tests/platform/child_processes.h"
#include "tests/platform/notify/notify_test.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using notify_test::at;
using notify_test::pending;
using notify_test::text;
using ce::test::readFile;
using ce::test::waitFor;
using notify_test::launcher;
using notify_test::Lines;

class SchedulerTest : public ce::test::DeviceTest {
 protected:
  // A program on the device that appends "<name> args=<n> home=<CE_DEVICE_HOME>" to
  // fs/started.txt and writes one line to each of its outputs.
  void install(const std::string& devicePath, const std::string& name, bool executable = true) {
    std::string host = hostPath("fs" + devicePath);
    for (char& c : host)
      if (c == '\\') c = '/';
    std::filesystem::create_directories(std::filesystem::path(host).parent_path());
    ce::test::writeFile(host, "#!/bin/sh\n"
                              "echo \"" + name + " args=$# home=$CE_DEVICE_HOME\" >> \"$CE_DEVICE_HOME/fs/started.txt\"\n"
                              "echo out; echo err >&2\n");
    chmod(host.c_str(), executable ? 0755 : 0644);
  }

  std::string started() const { return readFile(hostPath("fs/started.txt")); }

  void request(const wchar_t* app, const SYSTEMTIME& due) { ASSERT_TRUE(CeRunAppAtTime(app, &due)); }
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
  const std::string a = "a args=0 home=" + home() + "\n", sync = "sync args=0 home=" + home() + "\n";
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

TEST_F(SchedulerTest, LoopStartsOverdueRequestsWakesForNewOnesReapsAndStops) {
  install("/overdue.exe", "overdue");
  install("/Program Files/Quillbex/startsync.exe", "sync");
  SYSTEMTIME now;
  GetLocalTime(&now);
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
  EXPECT_TRUE(std::regex_match(reported()[0],
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d started \\overdue\.exe \(pid \d+\))")))
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

  stop = true;
  ce::notify::wakeScheduler();
  loop.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(reported().size(), 2u);
}

// The log is written before its commit is visible: waking on it would read too early and
// then sleep with the request pending. Only a request's commit wakes the watcher.
TEST_F(SchedulerTest, WatcherSleepsThroughUnrelatedFilesAndWakesForTheStore) {
  ce::notify::ChangeWatcher watcher;
  ce::test::writeFile(hostPath("system/registry.db"), "x");
  ce::test::writeFile(hostPath("system/notify.db-shm"), "x");
  ce::test::writeFile(hostPath("system/notify.db-wal"), "x");
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::timeout);
  std::filesystem::remove(hostPath("system/notify.db-shm"));
  std::filesystem::remove(hostPath("system/notify.db-wal"));
  EXPECT_EQ(watcher.wait(0), ce::notify::ChangeWatcher::Wake::timeout);

  request(launcher, at(2024, 3, 1, 12, 0));
  EXPECT_EQ(watcher.wait(10000), ce::notify::ChangeWatcher::Wake::changed);
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
    std::string name = "p" + std::to_string(i);
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
    std::string line = "p" + std::to_string(i) + " args=0";
    size_t first = lines.find(line + " ");
    EXPECT_NE(first, std::string::npos) << line;
    EXPECT_EQ(lines.find(line + " ", first + 1), std::string::npos) << line;
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), programs);
  EXPECT_TRUE(pending().empty());
}

}  // namespace
