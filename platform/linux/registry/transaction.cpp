// runInTransaction: one write transaction around a caller's sequence of registry calls.
#include "platform/registry_transaction.h"

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/registry/registry_store.h"

namespace ce::registry {

LONG runInTransaction(const std::function<LONG()>& body) {
  long long forced;
  if (ce::failPointHit("runInTransaction", forced)) return static_cast<LONG>(forced);
  // Held for the whole body: the body's own calls lock again on this thread (the mutex is
  // recursive) and other threads wait, so nothing of theirs slips into the transaction.
  StoreLock lock;
  if (lock.status()) return lock.status();
  WriteScope scope(lock.store());
  if (LONG rc = scope.begin()) return rc;
  LONG rc = body();
  if (rc != ERROR_SUCCESS) return rc;  // the scope rolls back
  return scope.commit();
}

}  // namespace ce::registry
