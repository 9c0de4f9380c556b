// The store API of platform/pimstore.h on Windows: notifications after every commit.
#include <vector>

#include "platform/pimstore.h"
#include "platform/win32/poom/notifications.h"
#include "platform/win32/poom/store.h"

namespace ce::pim {

namespace {

// Runs one change, then notifies outside the store's lock: a slow receiver must not hold up
// other writers of the store.
template <typename Operation>
Result change(Operation operation, DWORD* oid = nullptr) {
  poom::CommittedChange committed;
  if (Result done = operation(committed); !done) return done;
  if (oid) *oid = committed.oid;
  std::vector<long long> gone;
  Result result;
  result.undelivered = poom::notifySubscribers(committed, gone);
  // Best effort: a subscription left behind is found gone again at the next change.
  poom::endSubscriptions(gone);
  return result;
}

Subscription asSubscription(const poom::Subscriber& s) {
  return Subscription{reinterpret_cast<HWND>(static_cast<LONG_PTR>(s.window)), s.folder, s.mode,
                      s.pid};
}

}  // namespace

Result addItem(int folder, const std::string& subject, DWORD& oid) {
  return change(
      [&](poom::CommittedChange& committed) { return poom::addItem(folder, subject, committed); },
      &oid);
}

Result changeItem(DWORD oid, const std::optional<std::string>& subject) {
  return change(
      [&](poom::CommittedChange& committed) { return poom::changeItem(oid, subject, committed); });
}

Result deleteItem(DWORD oid) {
  return change([&](poom::CommittedChange& committed) { return poom::deleteItem(oid, committed); });
}

Result listItems(std::vector<Item>& items, int folder) { return poom::listItems(folder, items); }

Result listSubscriptions(std::vector<Subscription>& subscriptions) {
  std::vector<poom::Subscriber> subscribers;
  Result result = poom::listSubscribers(subscribers);
  subscriptions.clear();
  for (const poom::Subscriber& s : subscribers) subscriptions.push_back(asSubscription(s));
  return result;
}

Result endSubscriptionsOfGoneWindows(std::vector<Subscription>& ended) {
  std::vector<poom::Subscriber> subscribers;
  ended.clear();
  if (Result listed = poom::listSubscribers(subscribers); !listed) return listed;
  std::vector<long long> gone;
  for (const poom::Subscriber& s : subscribers) {
    if (poom::subscriberLives(s)) continue;
    ended.push_back(asSubscription(s));
    gone.push_back(s.window);
  }
  return poom::endSubscriptions(gone);
}

Result readChangeToken(int folder, long long& token) { return poom::changeToken(folder, token); }

}  // namespace ce::pim
