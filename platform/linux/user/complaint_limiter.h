// A bound on the lines a receiver writes about datagrams it refuses. Platform-internal.
//
// Any process of the user can send the listener datagrams, and each one refused is worth a
// line: but a flood of them (200,000 in a few seconds) must not become a flood of output. So
// at most kLinesPerSecond lines are written per second; the rest are counted, and the count
// is said in one line once lines may be written again, or when the receiver closes.
#pragma once

#include <chrono>
#include <cstdint>

namespace ce::user {

class ComplaintLimiter {
 public:
  static constexpr int kLinesPerSecond = 20;

  // True when one more line may be written now (after the line about what was held back, if
  // any, which this writes itself); false when it is to be counted instead.
  bool allow();
  // Says what is still held back.
  void flush();

 private:
  std::chrono::steady_clock::time_point windowStart_{};
  int linesInWindow_ = 0;
  std::uint64_t heldBack_ = 0;
};

}  // namespace ce::user
