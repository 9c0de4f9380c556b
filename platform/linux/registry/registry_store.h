// The registry's SQLite store (<home>/system/registry.db) and the one connection each process
// keeps to it. Platform-internal: only the Reg* functions and runInTransaction use it.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <cstdint>

#include "platform/linux/file_identity.h"
#include "platform/linux/kernel/wintypes.h"
#include "platform/linux/registry/commit_counter.h"
#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/read_cache.h"
#include "platform/linux/registry/sqlite_handles.h"
#include "platform/linux/registry/value_data.h"
#include "platform/linux/sqlite/name_watch.h"
#include "platform/linux/sqlite/published_state.h"

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

// What the store looked like when entries were read ahead: the device's commit count (or,
// where it is not available, SQLite's data version of the file) and this connection's count of
// changed rows (moved by our writes, also inside a transaction not committed yet).
struct StoreVersion {
  std::uint64_t commits = 0;
  long long changes = -1;
  bool operator==(const StoreVersion&) const = default;
};

enum class Walk { subkeys, values };

// One entry of a walk: a subkey (name, sortKey) or a value (id, name, value).
struct WalkRow {
  long long id = 0;
  std::string name;
  std::string sortKey;
  StoredValue value;
};

// Where a walk by index stands, kept with the open key handle: the entries from index `first`
// on, read ahead in one statement. The next ascending steps are answered from them while the
// store is unchanged; after any change the index is counted again, so every answer is what
// the key holds at that call.
struct EnumCursor {
  bool valid = false;
  DWORD first = 0;
  std::vector<WalkRow> rows;
  StoreVersion version;
};

// The two walks of one open handle.
struct Walks {
  EnumCursor subkeys;
  EnumCursor values;
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
  // The subkey at `index` (ERROR_NO_MORE_ITEMS past the last), in the order of their
  // comparison keys; `row` points into `cursor`.
  LONG subkeyAt(long long key, DWORD index, EnumCursor& cursor, const WalkRow*& row);

  LONG readValue(long long key, const StoredName& name, StoredValue& value);
  LONG writeValue(long long key, const StoredName& name, const StoredValue& value);
  // A REG_SZ kept as text, written from the caller's UTF-8 without a copy of its own.
  LONG writeText(long long key, const StoredName& name, std::string_view text);
  LONG deleteValue(long long key, const StoredName& name);
  // The value at `index` (ERROR_NO_MORE_ITEMS past the last), in creation order.
  LONG valueAt(long long key, DWORD index, EnumCursor& cursor, const WalkRow*& row);
  // ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it does not.
  LONG checkKey(long long key);

  // How an outermost transaction takes the write lock: up front (BEGIN IMMEDIATE, waiting for
  // other writers), or at its first write, when a transaction that only reads takes none.
  enum class Begin { asWriter, asReader };
  // A write transaction, or a savepoint when one is already open.
  LONG begin(bool& nested, Begin how = Begin::asWriter);
  // True when a transaction begun as a reader failed because its first write could not take
  // the write lock (another writer holds it, or committed since this transaction read): run
  // again as a writer, it waits its turn instead.
  bool upgradeRefused() const { return upgradeRefused_; }
  bool inTransaction() const { return depth_ > 0; }
  LONG commit(bool nested);
  void rollback(bool nested);
  // False when a transaction we opened has been ended by SQLite itself (disk full, I/O error):
  // what follows must not run outside it.
  bool transactionIntact() const;

  // Leaves the connection open and unused: a forked child must not touch its parent's.
  void abandon();
  // Gives back the pages SQLite caches; the next reads take them from the file again.
  void releaseMemory();

  // True after the file was replaced under its name and the new one could not be opened:
  // nothing but reopen() may be called then.
  bool closed() const { return closed_; }
  // Lets go of the old file and opens the one now under its name, with the checks of open().
  // On failure, says why on standard error and leaves the store closed.
  LONG reopen();

 private:
  enum StatementId {
    findChild,
    selectKey,
    insertKey,
    deleteSubtree,
    countKeyContents,
    subkeysFrom,
    subkeysAfter,
    selectValue,
    upsertValue,
    deleteValueByName,
    valuesFrom,
    valuesAfter,
    beginImmediate,
    beginRead,
    commitTransaction,
    rollbackTransaction,
    savepoint,
    releaseSavepoint,
    rollbackToSavepoint,
    statementCount
  };

  Store(Connection connection, CommitCounter commits);
  LONG prepareStatements();
  sqlite3_stmt* statement(StatementId id);
  // Before a write outside a transaction: follows a file replaced under the store's name
  // (a rename over it), so that no write goes into a file nobody else will read. One read of
  // the watch unless it saw the name change.
  LONG followReplacement();
  // Whether another file is under the store's name now; once seen, until reopen() follows it.
  bool replacedUnderName();
  LONG refuse(const char* why);
  LONG run(StatementId id, bool writing);
  // Steps a statement that writes.
  LONG writeStep(sqlite3_stmt* statement);
  // After a write that committed (outside any transaction of ours, or ending the outermost).
  void committed();
  // The version to compare a cursor with; without a commit counter, read while a statement is
  // active (its read transaction has begun).
  StoreVersion version() const;
  LONG walkTo(Walk walk, long long key, DWORD index, EnumCursor& cursor, const WalkRow*& row);
  // Reads ahead the entries of `key` from `index`, or after the cursor's last when `follow`.
  LONG readAhead(Walk walk, long long key, DWORD index, bool follow, EnumCursor& cursor);
  // Up to `limit` entries from `index` counted from the start, or those after `after`, and the
  // version they were read at.
  LONG readRows(Walk walk, long long key, DWORD index, const WalkRow* after, size_t limit,
                std::vector<WalkRow>& rows, StoreVersion& seen);
  void readValueRow(sqlite3_stmt* row, int typeColumn, StoredValue& value);

  // The header under which the cache may answer a read now, and under which a read through
  // SQLite would read: outside a snapshot of ours, or in one that is still what readers see;
  // never once this transaction has written.
  std::optional<ReadCache::Header> cacheAnswersUnder();
  // A read inside a transaction was answered from the cache under `at`.
  void answeredFromCache(const ReadCache::Header& at);
  // Around a read through SQLite: the header it will read under, when that can be known, and
  // afterwards the one it did read under (nothing when a commit was published meanwhile).
  // `startsSnapshot` is set when the read begins this transaction's snapshot.
  std::optional<ReadCache::Header> readBegins(bool& startsSnapshot);
  std::optional<ReadCache::Header> readEnded(const std::optional<ReadCache::Header>& before,
                                             bool startsSnapshot);
  void forgetTransactionReads();

  friend class ReadSnapshot;

  Connection connection_;
  CommitCounter commits_;
  std::vector<Statement> statements_;
  int depth_ = 0;  // transactions and savepoints we have open
  // The file opened, to tell when another is renamed over it; looked at only after the watch
  // saw the name change.
  std::string file_;
  int busyTimeoutMs_ = 0;
  ce::sqlite::NameWatch names_;
  std::optional<ce::FileIdentity> identity_, log_, index_;
  // The old file's log and index, until they are off the names beside the store.
  std::optional<ce::FileIdentity> replacedLog_, replacedIndex_;
  bool closed_ = false;
  bool upgradeRefused_ = false;
  bool beganAsReader_ = false;  // the outermost transaction open, if any
  bool replaced_ = false;
  // The read cache and the index header it is checked against. The header can be trusted for
  // as long as the connection is open: a WAL connection that has read holds a shared lock on
  // the file for its life, so no other program can switch the store out of WAL mode (and
  // publish commits elsewhere) meanwhile.
  ReadCache cache_;
  ce::sqlite::PublishedState published_;
  // In the outermost transaction: the header the cache answered under, the one its snapshot
  // began under, and whether those differ (its reads then saw two states, and a write of
  // what it read could undo a commit in between: the write is refused and the body runs again
  // as a writer).
  std::optional<ReadCache::Header> answered_, snapshot_;
  bool mixedReads_ = false;
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
  LONG begin(Store::Begin how = Store::Begin::asWriter) {
    LONG rc = store_.begin(nested_, how);
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
