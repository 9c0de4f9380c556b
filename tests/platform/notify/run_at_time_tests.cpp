#include <chrono>
#include <filesystem>
#include <string>
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
using RunAtTimeTest = ce::test::DeviceTest;
using notify_test::launcher;
using notify_test::Lines;
const Lines launcherAtNoon = {"2024-03-01 12:00:00.000 \\Program Files\\Quillbex\\startsync.exe"};

TEST_F(RunAtTimeTest, LaterRequestForTheSameProgramReplacesTheEarlierWhateverTheCase) {
  SYSTEMTIME first = at(2024, 3, 1, 12, 0), second = at(2024, 3, 1, 12, 30, 15, 250);
  ASSERT_TRUE(CeRunAppAtTime(launcher, &first));
  ASSERT_TRUE(CeRunAppAtTime(L"\\Windows\\other.exe", &first));
  ASSERT_TRUE(CeRunAppAtTime(L"\\PROGRAM FILES\\quillbex\\StartSync.EXE", &second));
  // Folded beyond ASCII too; the same time under another spelling is stored as spelt.
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
      {L"\\Windows\\..\\..\\..\\bin\\sh", noon, ERROR_INVALID_NAME},
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

  // Readers are not blocked; once the lock goes the same process writes again.
  EXPECT_EQ(pending(), launcherAtNoon);
  other.release();
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
  ASSERT_EQ(ce::test::sqlExec(store, "CREATE TABLE requests(x); INSERT INTO requests VALUES('kept');"
                                     "PRAGMA user_version = 2"),
            SQLITE_OK);
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(CeRunAppAtTime(launcher, &noon));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BADDB));
  EXPECT_EQ(ce::test::sqlValue(store, "SELECT group_concat(x) FROM requests"), "kept");
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

}  // namespace
