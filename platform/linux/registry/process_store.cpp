// The one store connection of each process, opened on first use and kept, and the lock that
// serialises the process's threads on it.
//
// A child of fork() never touches the connection it inherits (SQLite forbids it): it leaves it
// open and unused and opens its own.
#include <pthread.h>

#include <cerrno>
#include <cstdlib>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/registry/key_handles.h"
#include "platform/linux/registry/registry.h"
#include "platform/linux/registry/registry_store.h"
#include "platform/linux/registry/store_schema.h"
#include "platform/testing.h"

namespace ce::registry {

namespace {

// How long a write waits for another process's write lock: $CE_REGISTRY_BUSY_TIMEOUT_MS when
// it holds a whole number of milliseconds from 1 to 600000, else the default. Read once per
// process, so every write of one process waits alike.
int configuredBusyTimeout() {
  static const int milliseconds = [] {
    const char* text = std::getenv("CE_REGISTRY_BUSY_TIMEOUT_MS");
    if (!text || !*text) return busyTimeoutMilliseconds;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno || *end || value < 1 || value > 600000) return busyTimeoutMilliseconds;
    return static_cast<int>(value);
  }();
  return milliseconds;
}

struct ProcessStore {
  std::recursive_mutex mutex;
  std::unique_ptr<Store> store;
  int busyTimeoutMs = configuredBusyTimeout();
};

ProcessStore& processStore() {
  static ProcessStore state;
  return state;
}

void abandonInheritedStore() {
  ProcessStore& state = processStore();
  if (state.store) state.store->abandon();
  state.store.reset();
}

void resetRegistry() {
  ProcessStore& state = processStore();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  state.store.reset();
  state.busyTimeoutMs = configuredBusyTimeout();
  resetKeyHandles();
}

const bool resetHookRegistered = (ce::addResetHook(&resetRegistry), true);

// The store's page cache, given back when idle (ce::addIdleTrim).
void trimProcessStore() {
  ProcessStore& state = processStore();
  std::unique_lock<std::recursive_mutex> lock(state.mutex, std::try_to_lock);
  if (lock.owns_lock() && state.store) state.store->releaseMemory();
}

const bool idleTrimRegistered = (ce::addIdleTrim(&trimProcessStore), true);

LONG openProcessStore(std::unique_ptr<Store>& store) {
  static std::once_flag forkHandler;
  std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, &abandonInheritedStore); });
  std::string file;
  try {
    file = ce::systemDir() + "/registry.db";
  } catch (...) {
    return ERROR_PATH_NOT_FOUND;
  }
  return Store::open(file, processStore().busyTimeoutMs, store);
}

}  // namespace

StoreLock::StoreLock() : lock_(processStore().mutex) {
  (void)resetHookRegistered;
  ProcessStore& state = processStore();
  if (!state.store) status_ = openProcessStore(state.store);
  // A replacement that could not be followed: every call tries again, reads too, as nothing
  // is left open to read from.
  if (status_ == ERROR_SUCCESS && state.store->closed()) status_ = state.store->reopen();
  if (status_ == ERROR_SUCCESS && !state.store->transactionIntact()) status_ = ERROR_CANTWRITE;
  if (status_ == ERROR_SUCCESS) store_ = state.store.get();
}

}  // namespace ce::registry

namespace ce::testing {

void setRegistryBusyTimeout(int milliseconds) {
  auto& state = ce::registry::processStore();
  std::lock_guard<std::recursive_mutex> lock(state.mutex);
  state.busyTimeoutMs = milliseconds;
  if (state.store) state.store->setBusyTimeout(milliseconds);
}

}  // namespace ce::testing
