// The registry's SQLite store (<home>/system/registry.db) and the one connection each process
// keeps to it. Platform-internal: only the Reg* functions and runInTransaction use it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/wintypes.h"
#include "platform/registry/key_names.h"
#include "platform/registry/sqlite_handles.h"
#include "platform/registry/value_data.h"

namespace ce::registry {

// HKEY_LOCAL_MACHINE itself: the one key without a parent.
inline constexpr long long rootKeyId = 1;

struct KeyCounts {
  DWORD subKeys = 0;
  DWORD maxSubKeyChars = 0;
  DWORD values = 0;
  DWORD maxValueNameChars = 0;
  DWORD maxValueBytes = 0;
};

// What the store looked like when an answer was read: SQLite's data version of the file
// (moved by every commit, ours or another process's) and this connection's count of changed
// rows (moved by our writes, also inside a transaction that has not committed yet).
struct StoreVersion {
  unsigned int data = 0;
  long long changes = -1;
  bool operator==(const StoreVersion&) const = default;
};

// Where a walk by index stands: the entry it last answered. Kept with the open key handle.
// The next ascending index is then one indexed step from it, as long as the store has not
// changed since; after any change the index is counted again, so every answer is what the
// key holds at that call.
struct EnumCursor {
  bool valid = false;
  DWORD index = 0;
  std::string sortKey;  // subkeys: the entry's comparison key
  long long id = 0;     // values: the entry's row id
  StoreVersion version;
};

class Store {
 public:
  // Opens (creating it when there is no file yet) the store at `file`, upgrading an older
  // store in place. A file that is not a database, or a database that is not a registry, gives
  // ERROR_BADDB and is left untouched.
  static LONG open(const std::string& file, int busyTimeoutMs, std::unique_ptr<Store>& store);

  // How long a write waits for a store another process keeps locked.
  void setBusyTimeout(int milliseconds);

  // The key at `names` below `base`: ERROR_FILE_NOT_FOUND when one is missing,
  // ERROR_KEY_DELETED when `base` itself is gone. One indexed lookup per name.
  LONG findKey(long long base, const std::vector<StoredName>& names, long long& key);
  // Creates the missing keys of `names` below `base`; `created` tells whether the last was new.
  LONG createKeys(long long base, const std::vector<StoredName>& names, long long& key,
                  bool& created);
  // Removes the key, its subtree and all their values; ERROR_FILE_NOT_FOUND when it is gone.
  LONG deleteTree(long long key);
  LONG countKey(long long key, KeyCounts& counts);
  // ERROR_NO_MORE_ITEMS past the last subkey, in the order of their comparison keys.
  LONG subkeyAt(long long key, DWORD index, EnumCursor& cursor, std::string& name);

  LONG readValue(long long key, const StoredName& name, StoredValue& value);
  LONG writeValue(long long key, const StoredName& name, const StoredValue& value);
  LONG deleteValue(long long key, const StoredName& name);
  // ERROR_NO_MORE_ITEMS past the last value, in creation order.
  LONG valueAt(long long key, DWORD index, EnumCursor& cursor, std::string& name,
               StoredValue& value);
  // ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it does not.
  LONG checkKey(long long key);

  // A write transaction: BEGIN IMMEDIATE, or a savepoint when one is already open.
  LONG begin(bool& nested);
  LONG commit(bool nested);
  void rollback(bool nested);
  // False when a transaction we opened has been ended by SQLite itself (disk full, I/O error):
  // what follows must not run outside it.
  bool transactionIntact() const;

  // Leaves the connection open and unused: a forked child must not touch its parent's.
  void abandon();

 private:
  enum StatementId {
    findChild,
    selectKey,
    insertKey,
    deleteSubtree,
    countKeyContents,
    subkeyByOffset,
    subkeyAfter,
    subkeyAgain,
    selectValue,
    upsertValue,
    deleteValueByName,
    valueByOffset,
    valueAfter,
    valueAgain,
    beginImmediate,
    commitTransaction,
    rollbackTransaction,
    savepoint,
    releaseSavepoint,
    rollbackToSavepoint,
    statementCount
  };

  explicit Store(Connection connection);
  LONG prepareStatements();
  LONG run(StatementId id, bool writing);
  // The version of what an active statement is reading (its read transaction has begun).
  StoreVersion version() const;
  void readValueRow(sqlite3_stmt* row, int typeColumn, StoredValue& value);

  Connection connection_;
  std::vector<Statement> statements_;
  int depth_ = 0;  // transactions and savepoints we have open
};

// Every Reg* function holds one for its whole run: it serialises the threads of the process on
// the one connection and opens the store on first use. status() is the reason the store cannot
// be used (then store() must not be called).
class StoreLock {
 public:
  StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  LONG status() const { return status_; }
  Store& store() { return *store_; }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  Store* store_ = nullptr;
  LONG status_ = ERROR_SUCCESS;
};

// Rolls back a write transaction unless it was committed.
class WriteScope {
 public:
  explicit WriteScope(Store& store) : store_(store) {}
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;
  ~WriteScope() {
    if (open_) store_.rollback(nested_);
  }
  LONG begin() {
    LONG rc = store_.begin(nested_);
    open_ = rc == ERROR_SUCCESS;
    return rc;
  }
  LONG commit() {
    open_ = false;
    return store_.commit(nested_);
  }

 private:
  Store& store_;
  bool nested_ = false;
  bool open_ = false;
};

}  // namespace ce::registry
