// The translation between masks, inotify events and event kinds, and the joining of moves.
#include <sys/inotify.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/shell/event_kinds.h"
#include "platform/shell/move_pairing.h"
#include "platform/shell/shell.h"
#include "tests/support/device_test.h"

namespace ce::shell {
namespace {

using ShellTranslation = ce::test::DeviceTest;
using namespace std::chrono_literals;

constexpr uint32_t kMoves = IN_MOVED_FROM | IN_MOVED_TO;

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
    out += (out.empty() ? "" : " ") + (change.toWd >= 0 ? "" : std::string(mask) + "@") +
           std::to_string(change.wd) + ":" + change.name;
    if (change.toWd >= 0) out += ">" + std::to_string(change.toWd) + ":" + change.toName;
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
