// Move pairing for the inotify back end.
//
// The kernel queues the two halves of a rename one after the other, but another event may slip
// in between when several processes are busy, and the second half is queued a moment after the
// first. So a first half waits, briefly, for a partner that may still come, and everything
// read after it waits behind it, which keeps the order in which things happened. A first half
// whose partner never comes was a move out of the watched folders.
#include "platform/linux/shell/move_pairing.h"

#include <sys/inotify.h>

namespace ce::shell {

namespace {

bool isFirstHalf(const RawEvent& event) { return (event.mask & IN_MOVED_FROM) && event.cookie; }

Change single(RawEvent&& event) {
  Change change;
  change.mask = event.mask;
  change.wd = event.wd;
  change.name = std::move(event.name);
  return change;
}

}  // namespace

void MovePairing::add(RawEvent event, Clock::time_point now) {
  held_.push_back(Held{std::move(event), now});
  if (held_.size() > peak_) peak_ = held_.size();
}

long MovePairing::partnerOfFront() const {
  const RawEvent& first = held_.front().event;
  for (size_t i = 1; i < held_.size(); ++i) {
    const RawEvent& other = held_[i].event;
    if (other.mask & IN_Q_OVERFLOW) return -1;
    if ((other.mask & IN_MOVED_TO) && other.cookie == first.cookie) return static_cast<long>(i);
  }
  return 0;
}

void MovePairing::take(Clock::time_point now, std::vector<Change>& out) {
  while (!held_.empty()) {
    Held& front = held_.front();
    if (!isFirstHalf(front.event)) {
      out.push_back(single(std::move(front.event)));
      held_.pop_front();
      continue;
    }
    long partner = partnerOfFront();
    if (partner > 0) {
      Change change = single(std::move(front.event));
      RawEvent& second = held_[static_cast<size_t>(partner)].event;
      change.mask |= IN_MOVED_TO;
      change.toWd = second.wd;
      change.toName = std::move(second.name);
      out.push_back(std::move(change));
      held_.erase(held_.begin() + partner);
      held_.pop_front();
      continue;
    }
    if (partner == 0 && now - front.arrived < partnerWait_) return;
    out.push_back(single(std::move(front.event)));
    held_.pop_front();
  }
  // A deque keeps the index of blocks its longest backlog needed (16 KiB after a 10,000-file
  // burst); a burst's is given back once the burst is through.
  if (peak_ > kBacklogWorthShrinking) {
    std::deque<Held>().swap(held_);
    peak_ = 0;
  }
}

int MovePairing::msUntilDue(Clock::time_point now) const {
  if (held_.empty()) return -1;
  if (!isFirstHalf(held_.front().event)) return 0;
  auto left = held_.front().arrived + partnerWait_ - now;
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace ce::shell
