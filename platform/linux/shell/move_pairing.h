// Joins the two halves of a move (IN_MOVED_FROM, IN_MOVED_TO with the same cookie) into one
// change, and hands every change on in the order it happened. Platform-internal.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace ce::shell {

using Clock = std::chrono::steady_clock;

struct RawEvent {
  int wd = -1;
  uint32_t mask = 0;
  uint32_t cookie = 0;
  std::string name;  // bytes as the kernel gave them; empty for the folder itself
};

struct Change {
  uint32_t mask = 0;  // the kernel's; a joined move has both IN_MOVED_FROM and IN_MOVED_TO
  int wd = -1;        // folder of `name`; for a joined move, the old folder
  std::string name;
  int toWd = -1;      // joined move only: the new folder and name
  std::string toName;
};

class MovePairing {
 public:
  explicit MovePairing(std::chrono::milliseconds partnerWait) : partnerWait_(partnerWait) {}

  void add(RawEvent event, Clock::time_point now);
  // Appends every change that is ready to `out`, oldest first. A move's first half is ready
  // once its partner has come, an overflow has come after it, or it has waited partnerWait.
  void take(Clock::time_point now, std::vector<Change>& out);
  // Milliseconds until a held first half must be given up; -1 when nothing is held.
  int msUntilDue(Clock::time_point now) const;
  bool empty() const { return held_.empty(); }
  void clear() { held_.clear(); }

 private:
  struct Held {
    RawEvent event;
    Clock::time_point arrived;
  };
  // Index of the second half of held_.front() in held_, 0 when it has not come, -1 when it
  // never will (an overflow lies between).
  long partnerOfFront() const;

  static constexpr size_t kBacklogWorthShrinking = 1024;

  std::chrono::milliseconds partnerWait_;
  std::deque<Held> held_;
  size_t peak_ = 0;  // the longest held_ since it last started afresh
};

}  // namespace ce::shell
