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
  // Begun as a reader first: most bodies find what they would write there already (every
  // change of a burst after the first), and a transaction that only reads takes no write
  // lock. One whose first write finds the lock taken, or the store changed since it read,
  // rolls back and runs again as a writer, which waits for the lock and reads afresh. Inside
  // a transaction already open, the body joins it.
  if (!lock.store().inTransaction()) {
    WriteScope scope(lock.store());
    if (LONG rc = scope.begin(Store::Begin::asReader)) return rc;
    LONG rc = body();
    // Also when the body went on past its refused write: what it did is run again in full.
    if (!lock.store().upgradeRefused()) return rc == ERROR_SUCCESS ? scope.commit() : rc;
  }
  WriteScope scope(lock.store());
  if (LONG rc = scope.begin()) return rc;
  LONG rc = body();
  if (rc != ERROR_SUCCESS) return rc;  // the scope rolls back
  return scope.commit();
}

}  // namespace ce::registry
