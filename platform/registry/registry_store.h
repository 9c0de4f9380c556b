// The registry's SQLite store (<home>/system/registry.db) and the one connection each process
// keeps to it. Platform-internal: only the Reg* functions and runInTransaction use it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/wintypes.h"
#include "platform/registry/sqlite_handles.h"
#include "platform/registry/value_data.h"

namespace ce::registry {

// HKEY_LOCAL_MACHINE itself: the one key with an empty path.
inline constexpr long long rootKeyId = 1;

struct KeyRecord {
  long long id = rootKeyId;
  std::string path;  // UTF-8, '\'-separated, in the case each key was created with
};

struct KeyCounts {
  DWORD subKeys = 0;
  DWORD maxSubKeyChars = 0;
  DWORD values = 0;
  DWORD maxValueNameChars = 0;
  DWORD maxValueBytes = 0;
};

class Store {
 public:
  // Opens (creating it when there is no file yet) the store at `file`. A file that is not a
  // database, or a database that is not a registry, gives ERROR_BADDB and is left untouched.
  static LONG open(const std::string& file, int busyTimeoutMs, std::unique_ptr<Store>& store);

  // How long a write waits for a store another process keeps locked.
  void setBusyTimeout(int milliseconds);

  // ERROR_FILE_NOT_FOUND when no key has this path (compared without regard to ASCII case).
  LONG findKey(const std::string& path, KeyRecord& key);
  // Creates the missing keys of `names` below `base`; `created` tells whether the last was new.
  LONG createKeys(const KeyRecord& base, const std::vector<std::string>& names, KeyRecord& key,
                  bool& created);
  // Removes the key, its subtree and all their values.
  LONG deleteTree(const std::string& path);
  LONG countKey(long long id, KeyCounts& counts);
  // ERROR_NO_MORE_ITEMS past the last subkey, in creation order.
  LONG subkeyAt(long long id, DWORD index, std::string& name);

  LONG readValue(long long key, const std::string& name, StoredValue& value);
  LONG writeValue(long long key, const std::string& name, const StoredValue& value);
  LONG deleteValue(long long key, const std::string& name);
  LONG valueAt(long long key, DWORD index, std::string& name, StoredValue& value);

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
    findKeyByPath,
    insertKey,
    deleteKeys,
    countKeyContents,
    subkeyByIndex,
    selectValue,
    upsertValue,
    deleteValueByName,
    valueByIndex,
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
  LONG readValueRow(sqlite3_stmt* row, int typeColumn, StoredValue& value);

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
