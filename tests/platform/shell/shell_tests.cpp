// The shell notifications as windows see them, on real folders and a real message loop, and
// the translation beneath.
#include <malloc.h>
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/shell/event_kinds.h"
#include "platform/linux/shell/move_pairing.h"
#include "platform/linux/shell/notification_records.h"
#include "platform/linux/shell/shell.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"
#include "tests/support/test_window.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::wstring>;
constexpr DWORD kListenerMask = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE;

std::vector<HWND> windows;  // windows[0] is "w1"
Lines seen;

std::wstring kindName(LONG kind) {
  const std::pair<LONG, const wchar_t*> names[] = {
      {SHCNE_CREATE, L"CREATE"}, {SHCNE_DELETE, L"DELETE"}, {SHCNE_RENAMEITEM, L"RENAMEITEM"},
      {SHCNE_MKDIR, L"MKDIR"},   {SHCNE_RMDIR, L"RMDIR"},   {SHCNE_RENAMEFOLDER, L"RENAMEFOLDER"},
      {SHCNE_UPDATEDIR, L"UPDATEDIR"}};
  for (const auto& [known, name] : names)
    if (known == kind) return name;
  return std::to_wstring(kind);
}

// Writes "w1 CREATE \A\f" or "w1 RENAMEITEM \A\f -> \B\g" and releases the record.
LRESULT CALLBACK folderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_FILECHANGEINFO) return DefWindowProcW(window, message, wParam, lParam);
  auto* notify = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
  const FILECHANGEINFO& info = notify->fci;
  EXPECT_EQ(wParam, 0u);
  EXPECT_EQ(info.cbSize, sizeof(FILECHANGEINFO));
  size_t index = std::find(windows.begin(), windows.end(), window) - windows.begin();
  std::wstring line = L"w" + std::to_wstring(index + 1) + L" " + kindName(info.wEventId) + L" " +
                      reinterpret_cast<const WCHAR*>(info.dwItem1);
  if (info.dwItem2) line += std::wstring(L" -> ") + reinterpret_cast<const WCHAR*>(info.dwItem2);
  seen.push_back(line);
  SHChangeNotifyFree(notify);
  return 0;
}

class Shell : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    seen.clear();
    windows.clear();
    for (int i = 0; i < 3; ++i) windows.push_back(ce::test::makeWindow(L"ShellTest", folderProc));
  }
  void TearDown() override {
    ce::testing::reset();
    EXPECT_EQ(ce::shell::liveRecordCount(), 0u);
    DeviceTest::TearDown();
  }

  std::string host(const std::string& relative) { return ce::fsRoot() + "/" + relative; }
  void folder(const std::string& relative) { fs::create_directories(host(relative)); }
  void create(const std::string& relative) { std::ofstream(host(relative)) << "x"; }
  void move(const std::string& from, const std::string& to) { fs::rename(host(from), host(to)); }
  BOOL watch(int w, const wchar_t* path, DWORD mask = kListenerMask, BOOL recursive = FALSE) {
    std::wstring copy = path;
    SHCHANGENOTIFYENTRY entry{mask, copy.data(), recursive};
    return SHChangeNotifyRegister(windows[w - 1], &entry);
  }
  bool pumpUntil(const std::function<bool()>& done) {
    return ce::test::waitFor([&] {
      ce::test::pumpUntilIdle();
      return done();
    });
  }
  // Creates a marker in a watched folder and waits for it: whatever happened before it has
  // then come, so what has not come never will. Returns the lines before the marker's.
  Lines settle(const std::string& markerFolder, const std::wstring& markerLine) {
    create(markerFolder + "/marker");
    EXPECT_TRUE(pumpUntil([&] { return !seen.empty() && seen.back() == markerLine; }));
    Lines before(seen.begin(), seen.end() - (seen.empty() ? 0 : 1));
    seen.clear();
    return before;
  }
};

// A folder named in another case is found; its events carry the names as they are.
TEST_F(Shell, createsRenamesMovesAndDeletesReachEveryWindowWatchingEitherSide) {
  folder("A"), folder("B"), folder("Elsewhere");
  ASSERT_TRUE(watch(1, L"\\a\\"));
  ASSERT_TRUE(watch(2, L"/B/./"));
  create("A/f");
  std::ofstream(host("A/f"), std::ios::app) << "more";  // written in place: never reported
  move("A/f", "A/g");
  move("A/g", "B/g");
  create("Elsewhere/in");
  move("Elsewhere/in", "B/in");
  move("B/in", "Elsewhere/out");
  fs::remove(host("B/g"));
  EXPECT_EQ(settle("B", L"w2 CREATE \\B\\marker"),
            (Lines{L"w1 CREATE \\A\\f", L"w1 RENAMEITEM \\A\\f -> \\A\\g",
                   L"w1 RENAMEITEM \\A\\g -> \\B\\g", L"w2 RENAMEITEM \\A\\g -> \\B\\g",
                   L"w2 CREATE \\B\\in", L"w2 DELETE \\B\\in", L"w2 DELETE \\B\\g"}));
}

// The loop reads file events only when the queue has nothing for the caller. Catches a loop
// that reads them only when the queue is empty: a wait filtered for file changes behind a
// message it skips would never see them (and would spin, the descriptor staying readable).
TEST_F(Shell, aFilteredWaitGetsFileEventsBehindMessagesItSkips) {
  folder("A");
  ASSERT_TRUE(watch(1, L"\\A"));
  ASSERT_TRUE(PostMessageW(windows[0], WM_USER, 0, 0));
  create("A/f");
  MSG message{};
  ASSERT_TRUE(ce::test::waitFor([&] {
    return PeekMessageW(&message, nullptr, WM_FILECHANGEINFO, WM_FILECHANGEINFO, PM_REMOVE);
  }));
  DispatchMessageW(&message);
  EXPECT_EQ(seen, (Lines{L"w1 CREATE \\A\\f"}));
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_USER));
}

TEST_F(Shell, aWaitingLoopWakesOnItsOwnForAMoveOut) {
  folder("A"), folder("Elsewhere");
  create("A/f");
  ASSERT_TRUE(watch(1, L"\\A"));
  move("A/f", "Elsewhere/f");
  // Should the loop not wake for the held first half, this unblocks it and the test fails.
  std::thread([window = windows[0]] {
    std::this_thread::sleep_for(std::chrono::seconds(10));
    PostMessageW(window, WM_USER, 0, 0);
  }).detach();
  MSG message;
  ASSERT_GT(GetMessageW(&message, nullptr, 0, 0), 0);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_FILECHANGEINFO));
  DispatchMessageW(&message);
  EXPECT_EQ(seen, (Lines{L"w1 DELETE \\A\\f"}));
}

TEST_F(Shell, eachWindowGetsOnlyItsKindsAndNothingFromSubfolders) {
  folder("A");
  ASSERT_TRUE(watch(1, L"\\A"));
  ASSERT_TRUE(watch(2, L"\\A", SHCNE_MKDIR | SHCNE_RMDIR | SHCNE_RENAMEFOLDER));
  ASSERT_TRUE(watch(3, L"\\A", SHCNE_DELETE));
  folder("A/sub");
  create("A/sub/inner");
  move("A/sub", "A/sub2");
  fs::remove_all(host("A/sub2"));
  create("A/f");
  fs::remove(host("A/f"));
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"),
            (Lines{L"w2 MKDIR \\A\\sub", L"w2 RENAMEFOLDER \\A\\sub -> \\A\\sub2",
                   L"w2 RMDIR \\A\\sub2", L"w1 CREATE \\A\\f", L"w1 DELETE \\A\\f",
                   L"w3 DELETE \\A\\f"}));
  // The windows left keep the folder watched when one goes.
  EXPECT_TRUE(SHChangeNotifyDeregister(windows[0]));
  fs::remove(host("A/marker"));
  folder("A/again");
  ASSERT_TRUE(pumpUntil([] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (Lines{L"w3 DELETE \\A\\marker", L"w2 MKDIR \\A\\again"}));
}

TEST_F(Shell, registeringAgainReplacesTheFolderAndRefusalsChangeNothing) {
  folder("A"), folder("B");
  create("plain");
  ASSERT_TRUE(watch(1, L"\\A"));
  EXPECT_FALSE(watch(1, L"\\Missing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(watch(1, L"\\plain"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"), Lines{});

  ASSERT_TRUE(watch(1, L"\\B"));
  create("A/old");
  EXPECT_EQ(settle("B", L"w1 CREATE \\B\\marker"), Lines{});
}

// A folder that goes away keeps its registrations: every window on it hears that it went
// and, once a folder is back under its path, that it is back; then it hears of its files again.
TEST_F(Shell, aFolderThatGoesAwayIsReportedAndWatchedAgainOnceItIsBack) {
  folder("Docs/A"), folder("B");
  create("Docs/A/f");
  ASSERT_TRUE(watch(1, L"\\Docs\\A"));
  ASSERT_TRUE(watch(2, L"\\Docs\\A", SHCNE_DELETE));
  ASSERT_TRUE(watch(3, L"\\B"));
  fs::remove_all(host("Docs/A"));
  EXPECT_EQ(settle("B", L"w3 CREATE \\B\\marker"),
            (Lines{L"w1 DELETE \\Docs\\A\\f", L"w2 DELETE \\Docs\\A\\f",
                   L"w1 RMDIR \\Docs\\A", L"w2 RMDIR \\Docs\\A"}));

  folder("Docs/A");
  ASSERT_TRUE(pumpUntil([] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (Lines{L"w1 MKDIR \\Docs\\A", L"w2 MKDIR \\Docs\\A"}));
  seen.clear();
  fs::remove(host("B/marker"));
  create("Docs/A/g");
  move("Docs/A", "A2");  // it must not go on reporting under a path that is no longer its own
  create("A2/h");
  fs::remove_all(host("Docs"));  // and the folder it then waits in goes too
  EXPECT_EQ(settle("B", L"w3 CREATE \\B\\marker"),
            (Lines{L"w3 DELETE \\B\\marker", L"w1 CREATE \\Docs\\A\\g", L"w1 RMDIR \\Docs\\A",
                   L"w2 RMDIR \\Docs\\A"}));
  EXPECT_TRUE(SHChangeNotifyDeregister(windows[1]));

  folder("Docs/A");
  ASSERT_TRUE(pumpUntil([] { return !seen.empty(); }));
  EXPECT_EQ(settle("Docs/A", L"w1 CREATE \\Docs\\A\\marker"), (Lines{L"w1 MKDIR \\Docs\\A"}));

  // Moved away with the folder above it: the same, though the folder itself never moved.
  move("Docs", "Moved");
  create("Moved/A/late");
  folder("Docs/A");
  ASSERT_TRUE(pumpUntil([] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (Lines{L"w1 RMDIR \\Docs\\A", L"w1 MKDIR \\Docs\\A"}));
}

// Moved away and moved back, with nothing else happening in the folder above it: the move
// back alone brings the watch back (from elsewhere: the folder process test's).
TEST_F(Shell, aFolderMovedBackOnItsOwnIsWatchedAgain) {
  folder("Docs/A"), folder("B");
  ASSERT_TRUE(watch(1, L"\\Docs\\A"));
  ASSERT_TRUE(watch(3, L"\\B"));
  move("Docs/A", "Docs/A.away");
  EXPECT_EQ(settle("B", L"w3 CREATE \\B\\marker"), (Lines{L"w1 RMDIR \\Docs\\A"}));
  move("Docs/A.away", "Docs/A");
  ASSERT_TRUE(pumpUntil([] { return !seen.empty(); }));
  EXPECT_EQ(settle("Docs/A", L"w1 CREATE \\Docs\\A\\marker"), (Lines{L"w1 MKDIR \\Docs\\A"}));
}

TEST_F(Shell, namesThatAreNotUtf8AndNamesOf255BytesLeadBackToTheirFile) {
  folder("A");
  ASSERT_TRUE(watch(1, L"\\A"));
  const std::string longest = std::string(251, 'n').append(".pwi");
  create("A/caf\xe9.pwi");
  create("A/" + longest);
  ASSERT_TRUE(pumpUntil([] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (Lines{L"w1 CREATE \\A\\caf\xdce9.pwi",
                         L"w1 CREATE \\A\\" + ce::widenFileName(longest)}));
  for (const std::wstring& line : seen)
    EXPECT_NE(GetFileAttributesW(line.substr(line.find(L'\\')).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Shell, anOverflowTellsEveryWindowOnceToLookAtItsWholeFolder) {
  folder("A"), folder("B");
  ASSERT_TRUE(watch(1, L"\\A"));
  // A file renamed to and fro in B fills the kernel's queue, two events a rename, with no kind
  // w2 asked for: no message each.
  ASSERT_TRUE(watch(2, L"\\B", SHCNE_MKDIR));
  create("B/x");
  int events = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> events;
  for (int i = 0; i < events / 2 + 100; ++i) move(i % 2 ? "B/y" : "B/x", i % 2 ? "B/x" : "B/y");
  ASSERT_TRUE(pumpUntil([] { return seen.size() >= 2; }));
  EXPECT_EQ(seen, (Lines{L"w1 UPDATEDIR \\A", L"w2 UPDATEDIR \\B"}));
  seen.clear();
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"), Lines{});
}

}  // namespace

namespace ce::shell {
namespace {

// The translation between masks, inotify events and event kinds, and the joining of moves.
using ShellTranslation = ce::test::DeviceTest;
using namespace std::chrono_literals;

constexpr uint32_t kMoves = IN_MOVED_FROM | IN_MOVED_TO;

// The last record of a burst released gives back the room the burst took (catches an idle
// listener holding the buckets of the largest burst it met: 160 KiB after ten thousand files).
TEST(ShellRecords, theLastReleaseAfterABurstGivesItsRoomBack) {
  const size_t before = mallinfo2().uordblks;
  {
    std::vector<FILECHANGENOTIFY*> burst(10000);
    for (auto& record : burst) record = ce::shell::newRecord(SHCNE_CREATE, L"\\x.doc", nullptr);
    for (auto* record : burst) EXPECT_TRUE(ce::shell::releaseRecord(record));
  }
  EXPECT_EQ(ce::shell::liveRecordCount(), 0u);
  EXPECT_LT(mallinfo2().uordblks, before + 16 * 1024);
}

TEST_F(ShellTranslation, eventsBecomeKindsAndTheWatchAsksForEveryOneOfThem) {
  const struct { uint32_t event; DWORD kind; } rows[] = {
      {IN_CREATE, SHCNE_CREATE},
      {IN_CREATE | IN_ISDIR, SHCNE_MKDIR},
      {IN_DELETE, SHCNE_DELETE},
      {IN_DELETE | IN_ISDIR, SHCNE_RMDIR},
      {IN_MOVED_TO, SHCNE_CREATE},
      {IN_MOVED_TO | IN_ISDIR, SHCNE_MKDIR},
      {IN_MOVED_FROM, SHCNE_DELETE},
      {IN_MOVED_FROM | IN_ISDIR, SHCNE_RMDIR},
      {kMoves, SHCNE_RENAMEITEM},
      {kMoves | IN_ISDIR, SHCNE_RENAMEFOLDER},
      {IN_Q_OVERFLOW, SHCNE_UPDATEDIR},
      // Bits that must not match anything.
      {IN_MODIFY, 0}, {IN_ATTRIB, 0}, {IN_ISDIR, 0}, {IN_IGNORED, 0}, {IN_DELETE_SELF, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(eventKindFor(row.event), row.kind) << std::hex << row.event;
    // A kind that can be produced must be produced by events its own mask subscribes to.
    if (row.kind && row.kind != SHCNE_UPDATEDIR) {
      uint32_t needed = row.event & ~IN_ISDIR;
      EXPECT_EQ(inotifyFlagsFor(row.kind) & needed, needed) << std::hex << row.event;
    }
  }
}

// "1:a>2:b" for a joined move (folder:name), "100@1:x" for anything else (the kernel's mask in
// hex first: 100 IN_CREATE, 40 IN_MOVED_FROM, 80 IN_MOVED_TO, 4000 IN_Q_OVERFLOW).
std::string describe(const std::vector<Change>& changes) {
  std::string out;
  for (const Change& change : changes) {
    char mask[16];
    std::snprintf(mask, sizeof mask, "%x", change.mask);
    // Appended in place: GCC 12 at -O3 warns (-Wrestrict, falsely) on `"..." + string`.
    if (!out.empty()) out += ' ';
    if (change.toWd < 0) out.append(mask).append("@");
    out.append(std::to_string(change.wd)).append(":").append(change.name);
    if (change.toWd >= 0)
      out.append(">").append(std::to_string(change.toWd)).append(":").append(change.toName);
  }
  return out;
}

TEST_F(ShellTranslation, movesAreJoinedByCookieAndKeepTheirPlaceInTheOrder) {
  MovePairing pairing(3ms);
  const auto t0 = Clock::now();
  std::vector<Change> out;
  // Halves with another event between them, interleaved renames, a second half whose first
  // half was never seen.
  const RawEvent events[] = {{1, IN_MOVED_FROM, 7, "a"}, {1, IN_CREATE, 0, "x"},
                             {2, IN_MOVED_TO, 7, "b"},   {1, IN_MOVED_FROM, 8, "c"},
                             {1, IN_MOVED_FROM, 9, "d"}, {1, IN_MOVED_TO, 9, "d2"},
                             {1, IN_MOVED_TO, 8, "c2"},  {1, IN_MOVED_TO, 10, "in"}};
  for (const RawEvent& event : events) pairing.add(event, t0);
  pairing.take(t0, out);
  EXPECT_EQ(describe(out), "1:a>2:b 100@1:x 1:c>1:c2 1:d>1:d2 80@1:in");
  EXPECT_EQ(pairing.msUntilDue(t0), -1);
}

// The room a burst's backlog took goes back once it is taken: an idle listener would otherwise
// keep the index of blocks of its longest burst. Catches the deque kept as the burst left it.
TEST_F(ShellTranslation, aBurstOnceTakenGivesItsRoomBack) {
  const auto t0 = Clock::now();
  std::vector<Change> out;
  out.reserve(10000);
  MovePairing pairing(3ms);
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 10000; ++i) pairing.add({1, IN_CREATE, 0, "x"}, t0);
  pairing.take(t0, out);
  EXPECT_EQ(out.size(), 10000u);
  EXPECT_LT(mallinfo2().uordblks, before + 8 * 1024);  // 24 KiB more when kept
}

TEST_F(ShellTranslation, aLoneFirstHalfHoldsWhatFollowsUntilItsWaitIsOverOrAnOverflow) {
  MovePairing pairing(3ms);
  const auto t0 = Clock::now();
  std::vector<Change> out;
  pairing.add({1, IN_MOVED_FROM, 5, "gone"}, t0);
  pairing.add({1, IN_CREATE, 0, "later"}, t0 + 1ms);
  pairing.take(t0 + 1ms, out);
  EXPECT_EQ(describe(out), "");
  EXPECT_EQ(pairing.msUntilDue(t0 + 1ms), 2);
  pairing.take(t0 + 3ms, out);
  EXPECT_EQ(describe(out), "40@1:gone 100@1:later");

  // A partner lost in an overflow is not waited for.
  out.clear();
  pairing.add({1, IN_MOVED_FROM, 6, "a"}, t0);
  pairing.add({-1, IN_Q_OVERFLOW, 0, ""}, t0);
  pairing.add({1, IN_MOVED_TO, 6, "b"}, t0);
  pairing.take(t0, out);
  EXPECT_EQ(describe(out), "40@1:a 4000@-1: 80@1:b");
}

}  // namespace
}  // namespace ce::shell
