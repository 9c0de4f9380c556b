// The translation between masks, inotify events and event kinds, and the joining of moves.
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include "platform/shell/event_kinds.h"
#include "platform/shell/move_pairing.h"
#include "platform/shell/shell.h"
#include "tests/support/device_test.h"

namespace ce::shell {
namespace {

using ShellTranslation = ce::test::DeviceTest;
using namespace std::chrono_literals;

constexpr uint32_t kAlways = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kMoves = IN_MOVED_FROM | IN_MOVED_TO;

TEST_F(ShellTranslation, maskAsksTheKernelForWhatCanProduceItsKinds) {
  struct Row {
    DWORD mask;
    uint32_t flags;
  };
  const Row rows[] = {
      {0, kAlways},
      {SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE, kAlways | IN_CREATE | IN_DELETE | kMoves},
      {SHCNE_RENAMEITEM, kAlways | kMoves},
      {SHCNE_CREATE, kAlways | IN_CREATE | kMoves},
      {SHCNE_DELETE, kAlways | IN_DELETE | kMoves},
      {SHCNE_MKDIR, kAlways | IN_CREATE | kMoves},
      {SHCNE_RMDIR, kAlways | IN_DELETE | kMoves},
      {SHCNE_RENAMEFOLDER, kAlways | kMoves},
      // In-place writes and whole-folder updates are never watched for.
      {SHCNE_UPDATEITEM, kAlways},
      {SHCNE_UPDATEDIR, kAlways},
      {SHCNE_UPDATEITEM | SHCNE_UPDATEDIR | 0x40000000, kAlways},
      {SHCNE_ALLEVENTS, kAlways | IN_CREATE | IN_DELETE | kMoves},
  };
  for (const Row& row : rows) EXPECT_EQ(inotifyFlagsFor(row.mask), row.flags) << std::hex << row.mask;
}

TEST_F(ShellTranslation, eventsBecomeKindsAndTheWatchAsksForEveryOneOfThem) {
  struct Row {
    uint32_t event;
    DWORD kind;
  };
  const Row rows[] = {
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
      {IN_MODIFY, 0},
      {IN_CLOSE_WRITE, 0},
      {IN_CLOSE_NOWRITE, 0},
      {IN_OPEN, 0},
      {IN_ATTRIB, 0},
      {IN_ACCESS, 0},
      {IN_ISDIR, 0},
      {IN_ISDIR | IN_OPEN, 0},
      {IN_IGNORED, 0},
      {IN_DELETE_SELF, 0},
      {IN_MOVE_SELF, 0},
      {IN_UNMOUNT, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(eventKindFor(row.event), row.kind) << std::hex << row.event;
    // A kind that can be produced must be produced by events its own mask subscribes to.
    if (row.kind && row.kind != SHCNE_UPDATEDIR) {
      uint32_t needed = row.event & ~IN_ISDIR;
      EXPECT_EQ(inotifyFlagsFor(row.kind) & needed, needed) << std::hex << row.event;
    }
  }
}

TEST_F(ShellTranslation, onlyTheFolderGoingAwayEndsItsWatch) {
  for (uint32_t ending : {IN_DELETE_SELF, IN_MOVE_SELF, IN_IGNORED, IN_UNMOUNT})
    EXPECT_TRUE(endsWatch(ending)) << std::hex << ending;
  for (uint32_t other : {IN_CREATE, IN_DELETE, IN_MOVED_FROM, IN_MOVED_TO, IN_Q_OVERFLOW,
                         IN_CREATE | IN_ISDIR, IN_DELETE | IN_ISDIR, IN_CLOSE_WRITE})
    EXPECT_FALSE(endsWatch(other)) << std::hex << other;
}

RawEvent event(int wd, uint32_t mask, const char* name, uint32_t cookie = 0) {
  return RawEvent{wd, mask, cookie, name};
}

std::string describe(const std::vector<Change>& changes) {
  std::string out;
  for (const Change& change : changes) {
    if (!out.empty()) out += ", ";
    if ((change.mask & kMoves) == kMoves)
      out += "move " + std::to_string(change.wd) + ":" + change.name + " -> " +
             std::to_string(change.toWd) + ":" + change.toName;
    else if (change.mask & IN_Q_OVERFLOW)
      out += "overflow";
    else
      out += (change.mask & IN_MOVED_FROM ? "from " : change.mask & IN_MOVED_TO ? "to " :
              change.mask & IN_CREATE     ? "create " : "other ") +
             std::to_string(change.wd) + ":" + change.name;
  }
  return out;
}

TEST_F(ShellTranslation, movesAreJoinedByCookieAndKeepTheirPlaceInTheOrder) {
  MovePairing pairing(3ms);
  const auto t0 = Clock::now();
  std::vector<Change> out;

  pairing.add(event(1, IN_MOVED_FROM, "a", 7), t0);
  pairing.add(event(1, IN_CREATE, "x"), t0);
  pairing.add(event(2, IN_MOVED_TO, "b", 7), t0);
  pairing.take(t0, out);
  EXPECT_EQ(describe(out), "move 1:a -> 2:b, create 1:x");

  // Two renames whose halves interleave, and a second half whose first half was never seen.
  out.clear();
  pairing.add(event(1, IN_MOVED_FROM, "c", 8), t0);
  pairing.add(event(1, IN_MOVED_FROM, "d", 9), t0);
  pairing.add(event(1, IN_MOVED_TO, "d2", 9), t0);
  pairing.add(event(1, IN_MOVED_TO, "c2", 8), t0);
  pairing.add(event(1, IN_MOVED_TO, "in", 10), t0);
  pairing.take(t0, out);
  EXPECT_EQ(describe(out), "move 1:c -> 1:c2, move 1:d -> 1:d2, to 1:in");
  EXPECT_TRUE(pairing.empty());
  EXPECT_EQ(pairing.msUntilDue(t0), -1);
}

TEST_F(ShellTranslation, aLoneFirstHalfHoldsWhatFollowsOnlyUntilItsWaitIsOver) {
  MovePairing pairing(3ms);
  const auto t0 = Clock::now();
  std::vector<Change> out;
  pairing.add(event(1, IN_MOVED_FROM, "gone", 5), t0);
  pairing.add(event(1, IN_CREATE, "later"), t0 + 1ms);
  pairing.take(t0 + 1ms, out);
  EXPECT_EQ(describe(out), "");
  EXPECT_EQ(pairing.msUntilDue(t0 + 1ms), 2);
  pairing.take(t0 + 3ms, out);
  EXPECT_EQ(describe(out), "from 1:gone, create 1:later");
  EXPECT_EQ(pairing.msUntilDue(t0 + 3ms), -1);
}

TEST_F(ShellTranslation, anOverflowGivesUpAFirstHalfAtOnce) {
  MovePairing pairing(3ms);
  const auto t0 = Clock::now();
  std::vector<Change> out;
  pairing.add(event(1, IN_MOVED_FROM, "a", 5), t0);
  pairing.add(event(-1, IN_Q_OVERFLOW, ""), t0);
  pairing.add(event(1, IN_MOVED_TO, "b", 5), t0);
  pairing.take(t0, out);
  EXPECT_EQ(describe(out), "from 1:a, overflow, to 1:b");
}

}  // namespace
}  // namespace ce::shell
