#include "platform/linux/user/complaint_limiter.h"

#include <cstdio>

namespace ce::user {

bool ComplaintLimiter::allow() {
  const auto now = std::chrono::steady_clock::now();
  if (now - windowStart_ >= std::chrono::seconds(1)) {
    flush();
    windowStart_ = now;
    linesInWindow_ = 0;
  }
  if (linesInWindow_ < kLinesPerSecond) {
    ++linesInWindow_;
    return true;
  }
  ++heldBack_;
  return false;
}

void ComplaintLimiter::flush() {
  if (heldBack_ == 0) return;
  std::fprintf(stderr, "user: %llu more window message datagrams refused or dropped, not each "
                       "said\n",
               static_cast<unsigned long long>(heldBack_));
  heldBack_ = 0;
}

}  // namespace ce::user
