// The store API of platform/pimstore.h: one connection per process, notifications after
// every commit.
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/pimstore.h"
#include "platform/linux/poom/notifications.h"
#include "platform/linux/poom/store.h"
#include "platform/linux/user/window_files.h"

namespace ce::pim {

namespace {

struct SharedStore {
  std::mutex mutex;
  std::unique_ptr<poom::Store> store;
  std::string path;
  pid_t owner = 0;
  // SQLite forbids using a connection inherited through fork(); a child leaves its parent's
  // connection untouched here (still reachable, so no leak is reported) and opens its own.
  std::vector<std::unique_ptr<poom::Store>> inherited;
};

SharedStore& shared() {
  static SharedStore instance;
  return instance;
}

void resetSharedStore() {
  SharedStore& s = shared();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.owner == getpid()) s.store.reset();
  else if (s.store) s.inherited.push_back(std::move(s.store));
  s.path.clear();
  s.owner = 0;
}

// The store's page cache, given back when idle (ce::addIdleTrim); never a parent's connection
// inherited through fork().
void trimSharedStore() {
  SharedStore& s = shared();
  std::unique_lock<std::mutex> lock(s.mutex, std::try_to_lock);
  if (lock.owns_lock() && s.store && s.owner == getpid()) s.store->releaseMemory();
}

const bool idleTrimRegistered = (ce::addIdleTrim(&trimSharedStore), true);

// The process's connection to the current device's pim.db; null with `failed` set.
poom::Store* connection(SharedStore& s, Result& failed) {
  static std::once_flag hook;
  std::call_once(hook, [] { ce::addResetHook(&resetSharedStore); });
  std::string path;
  try {
    path = ce::systemDir() + "/pim.db";
  } catch (const std::exception& e) {
    failed = Result{Status::storeFailed, e.what(), 0};
    return nullptr;
  }
  if (s.store && s.owner != getpid()) s.inherited.push_back(std::move(s.store));
  if (s.store && s.path == path) return s.store.get();
  std::string error;
  s.store = poom::Store::open(path, error);
  if (!s.store) {
    failed = Result{Status::storeFailed, error, 0};
    return nullptr;
  }
  s.path = path;
  s.owner = getpid();
  return s.store.get();
}

// Runs `body` on the open store, under the lock.
template <typename Body>
Result withStore(Body body) {
  SharedStore& s = shared();
  std::lock_guard<std::mutex> lock(s.mutex);
  Result failed;
  poom::Store* store = connection(s, failed);
  if (!store) return failed;
  return body(*store);
}

// Runs one change, then notifies outside the lock and the transaction: a slow receiver
// must not hold up other writers of the store.
template <typename Operation>
Result change(Operation operation, DWORD* oid = nullptr) {
  poom::CommittedChange committed;
  if (Result done = withStore([&](poom::Store& store) { return operation(store, committed); });
      !done)
    return done;
  if (oid) *oid = committed.oid;
  std::vector<long long> gone;
  Result result;
  result.undelivered = poom::notifySubscribers(committed, gone);
  // Best effort: a subscription left behind is found gone again at the next change.
  if (!gone.empty())
    withStore([&](poom::Store& store) { return store.endSubscriptions(gone); });
  return result;
}

}  // namespace

Result addItem(int folder, const std::string& subject, DWORD& oid) {
  return change(
      [&](poom::Store& store, poom::CommittedChange& committed) {
        return store.addItem(folder, subject, committed);
      },
      &oid);
}

Result changeItem(DWORD oid, const std::optional<std::string>& subject) {
  return change([&](poom::Store& store, poom::CommittedChange& committed) {
    return store.changeItem(oid, subject, committed);
  });
}

Result deleteItem(DWORD oid) {
  return change([&](poom::Store& store, poom::CommittedChange& committed) {
    return store.deleteItem(oid, committed);
  });
}

Result listItems(std::vector<Item>& items, int folder) {
  return withStore([&](poom::Store& store) { return store.listItems(folder, items); });
}

Result listSubscriptions(std::vector<Subscription>& subscriptions) {
  return withStore(
      [&](poom::Store& store) { return store.listSubscriptions(subscriptions); });
}

Result endSubscriptionsOfGoneWindows(std::vector<Subscription>& ended) {
  return withStore([&](poom::Store& store) {
    std::vector<Subscription> subscriptions;
    std::vector<poom::Subscriber> subscribers;
    if (Result listed = store.listSubscriptions(subscriptions, &subscribers); !listed)
      return listed;
    ended.clear();
    std::vector<long long> gone;
    for (size_t i = 0; i < subscribers.size(); ++i) {
      const poom::Subscriber& subscriber = subscribers[i];
      if (poom::subscriberLives(subscriber) &&
          ce::user::windowIsLive(static_cast<uint64_t>(subscriber.window)))
        continue;
      ended.push_back(subscriptions[i]);
      gone.push_back(subscriber.window);
    }
    return store.endSubscriptions(gone);
  });
}

Result readChangeToken(int folder, long long& token) {
  return withStore([&](poom::Store& store) { return store.changeToken(folder, token); });
}

}  // namespace ce::pim
