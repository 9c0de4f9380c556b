// pim.db on SQLite.
//
// The file is shared by every process of the device: the listener subscribes through it,
// tools change items through it, and each of them may die at any moment. So the journal is
// WAL with synchronous=FULL (a change is durable when its call returns, one fsync of the
// log), writers take the write lock up front (BEGIN IMMEDIATE) so that two writers never
// deadlock on a lock upgrade, and a busy store is waited for rather than failed at once.
//
// Object ids come from AUTOINCREMENT and are never reused: a notification for a deleted
// item must not be mistaken for a later item that got the same id.
//
// user_version tells our schema from anything else that happens to be called pim.db; a file
// that is not ours is reported and never written to.
//
// Each folder has a change token that every committed add, change and delete raises inside
// its own transaction: a reader who remembers the token can tell, even after being away,
// whether anything in the folder changed since. Version 1 stores predate the tokens and
// gain the table on open; their tokens start at 0.
#include "platform/linux/poom/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/kernel/utf8.h"
#include "platform/linux/poom/poom.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/sqlite/wal.h"

namespace ce::poom {

namespace {

constexpr int schemaVersion = 2;
// Long enough for a burst of writers on a slow disk, short enough that a wedged peer is
// reported instead of hanging a tool.
constexpr int busyTimeoutMs = 5000;
// Object ids travel in a DWORD (wParam on the device).
constexpr sqlite3_int64 maxOid = 0xFFFFFFFFll;

const char* const schemaSql =
    "CREATE TABLE IF NOT EXISTS items("
    "  oid INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  folder INTEGER NOT NULL CHECK (folder IN (9, 10, 13)),"
    "  subject TEXT NOT NULL,"
    "  modified INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS items_by_folder ON items(folder, oid);"
    "CREATE TABLE IF NOT EXISTS subscriptions("
    "  window INTEGER NOT NULL,"
    "  folder INTEGER NOT NULL,"
    "  mode INTEGER NOT NULL,"
    "  pid INTEGER NOT NULL,"
    "  started INTEGER NOT NULL DEFAULT 0,"
    "  PRIMARY KEY (window, folder)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS subscriptions_by_folder ON subscriptions(folder);";

// Who subscribed: the start time of the subscriber's process beside its pid, so that a
// process that got the pid of a dead subscriber is never taken for it. Added to a store that
// lacks it without a new version: the column has a default, so older programs that name
// their columns go on reading and writing the store as before (their rows say 0: unknown).
const char* const startedColumnSql =
    "ALTER TABLE subscriptions ADD COLUMN started INTEGER NOT NULL DEFAULT 0";

// Added by version 2; also the whole upgrade of a version 1 store.
const char* const tokensSql =
    "CREATE TABLE IF NOT EXISTS change_tokens("
    "  folder INTEGER PRIMARY KEY CHECK (folder IN (9, 10, 13)),"
    "  token INTEGER NOT NULL);";

long long localTicksNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  FILETIME ft{};
  SystemTimeToFileTime(&now, &ft);
  return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
}

FILETIME fileTimeOf(long long ticks) {
  auto value = static_cast<unsigned long long>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

pim::Result fail(pim::Status status, std::string message) {
  pim::Result result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

pim::Result checkSubject(const std::string& subject) {
  if (subject.size() > pim::maxSubjectBytes)
    return fail(pim::Status::badSubject, "subject longer than " +
                                             std::to_string(pim::maxSubjectBytes) + " bytes");
  if (subject.find('\0') != std::string::npos)
    return fail(pim::Status::badSubject, "subject contains a NUL character");
  if (utf8::toWide(subject.data(), subject.size(), nullptr, 0, utf8::InvalidBytes::fail) < 0)
    return fail(pim::Status::badSubject, "subject is not valid UTF-8");
  return {};
}

pim::Result noSuchItem(DWORD oid) {
  return fail(pim::Status::noSuchItem, "no item has the id " + std::to_string(oid));
}

// Resets a cached statement when its use ends, whatever path leaves the scope.
class Use {
 public:
  explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
  ~Use() {
    if (statement_) {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

bool isPimFolder(int folder) {
  return folder == olFolderCalendar || folder == olFolderContacts || folder == olFolderTasks;
}

enum Store::Sql : int {
  beginWrite,
  commitWrite,
  rollbackWrite,
  insertItem,
  findItem,
  updateItem,
  removeItem,
  itemsOfAll,
  itemsOfFolder,
  subscribersOf,
  upsertSubscription,
  removeSubscription,
  removeWindow,
  allSubscriptions,
  raiseToken,
  readToken,
  sqlCount
};

namespace {
const char* const sqlText[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "INSERT INTO items(folder, subject, modified) VALUES (?1, ?2, ?3)",
    "SELECT folder, modified FROM items WHERE oid = ?1",
    "UPDATE items SET subject = coalesce(?2, subject), modified = ?3 WHERE oid = ?1",
    "DELETE FROM items WHERE oid = ?1",
    "SELECT oid, folder, subject, modified FROM items ORDER BY oid",
    "SELECT oid, folder, subject, modified FROM items WHERE folder = ?1 ORDER BY oid",
    "SELECT window, mode, pid, started FROM subscriptions WHERE folder = ?1 ORDER BY window",
    "INSERT INTO subscriptions(window, folder, mode, pid, started) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (window, folder) DO UPDATE SET mode = excluded.mode, pid = excluded.pid,"
    " started = excluded.started",
    "DELETE FROM subscriptions WHERE window = ?1 AND folder = ?2",
    "DELETE FROM subscriptions WHERE window = ?1",
    "SELECT window, folder, mode, pid, started FROM subscriptions ORDER BY folder, window",
    "INSERT INTO change_tokens(folder, token) VALUES (?1, 1)"
    " ON CONFLICT (folder) DO UPDATE SET token = token + 1",
    "SELECT token FROM change_tokens WHERE folder = ?1",
};
static_assert(sizeof sqlText / sizeof sqlText[0] == 16);
}  // namespace

// One write transaction; rolled back unless committed.
class Store::Transaction {
 public:
  explicit Transaction(Store& store) : store_(store) {}
  ~Transaction() {
    if (begun_ && !done_) {
      pim::Result ignored;
      if (sqlite3_stmt* s = store_.statement(rollbackWrite, ignored)) {
        Use use(s);
        sqlite3_step(s);
      }
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  pim::Result begin() { return run(beginWrite, "starting a change", begun_); }
  pim::Result commit() {
    long long forced;
    if (ce::failPointHit("PimStoreCommit", forced))
      return fail(pim::Status::storeFailed, "pim.db: committing: failed on purpose");
    return run(commitWrite, "committing", done_);
  }

 private:
  pim::Result run(Sql which, const char* doing, bool& flag) {
    pim::Result result;
    sqlite3_stmt* s = store_.statement(which, result);
    if (!s) return result;
    Use use(s);
    if (sqlite3_step(s) != SQLITE_DONE) return store_.failure(doing);
    flag = true;
    return result;
  }

  Store& store_;
  bool begun_ = false;
  bool done_ = false;
};

Store::Store(sqlite3* db) : db_(db), statements_(sqlCount, nullptr) {}

void Store::releaseMemory() { sqlite3_db_release_memory(db_); }

Store::~Store() {
  for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
  sqlite3_close_v2(db_);
}

std::unique_ptr<Store> Store::open(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  int rc = ce::sqlite::openStore(path, &db);
  std::unique_ptr<Store> store(db ? new Store(db) : nullptr);
  if (rc != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, busyTimeoutMs);
  pim::Result prepared = store->prepareSchema();
  if (!prepared) {
    // The message names the store by its file name; the path says which device.
    std::string message = prepared.message;
    if (message.rfind("pim.db: ", 0) == 0) message.erase(0, 8);
    error = path + ": " + message;
    return nullptr;
  }
  return store;
}

pim::Result Store::failure(const char* doing) const {
  return fail(pim::Status::storeFailed,
              std::string("pim.db: ") + doing + ": " + sqlite3_errmsg(db_));
}

// Reads before it writes: a file that is not a database fails the first read, and a
// database that is not ours is refused, so nothing is ever written into either.
pim::Result Store::prepareSchema() {
  // One statement is one snapshot: a peer creating the schema meanwhile is seen whole or not.
  const char* probe =
      "SELECT (SELECT user_version FROM pragma_user_version),"
      "       (SELECT count(*) FROM sqlite_master)";
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db_, probe, -1, &s, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  sqlite3_int64 version = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
  sqlite3_int64 objects = rc == SQLITE_ROW ? sqlite3_column_int64(s, 1) : 0;
  sqlite3_finalize(s);
  if (rc != SQLITE_ROW) return failure("reading the store");
  bool older = version == 1;
  if (version != schemaVersion && !older && (version != 0 || objects != 0))
    return fail(pim::Status::storeFailed, "pim.db: not a PIM store of this device");
  // A switch that still fails costs speed, not correctness, and a later open retries.
  ce::sqlite::switchToWal(db_, busyTimeoutMs);
  if (version == 0 || older) {
    // IF NOT EXISTS throughout: a peer may have created or upgraded the store meanwhile.
    std::string create = std::string("BEGIN IMMEDIATE;") + schemaSql + tokensSql +
                         "PRAGMA user_version=" + std::to_string(schemaVersion) + ";COMMIT;";
    if (sqlite3_exec(db_, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      pim::Result result = failure("creating the store");
      if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return result;
    }
  }
  if (sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK)
    return failure("setting durable commits");
  return addStartedColumn();
}

bool Store::hasStartedColumn() {
  sqlite3_stmt* s = nullptr;
  bool present = sqlite3_prepare_v2(db_, "SELECT started FROM subscriptions LIMIT 0", -1, &s,
                                    nullptr) == SQLITE_OK;
  sqlite3_finalize(s);
  return present;
}

pim::Result Store::addStartedColumn() {
  if (hasStartedColumn()) return {};
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
    return failure("upgrading the store");
  // A peer may have added it while this one waited for the write lock.
  bool done = hasStartedColumn() ||
              sqlite3_exec(db_, startedColumnSql, nullptr, nullptr, nullptr) == SQLITE_OK;
  pim::Result result = done ? pim::Result{} : failure("upgrading the store");
  sqlite3_exec(db_, done ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
  return result;
}

sqlite3_stmt* Store::statement(Sql which, pim::Result& result) {
  sqlite3_stmt*& cached = statements_[which];
  if (!cached &&
      sqlite3_prepare_v3(db_, sqlText[which], -1, SQLITE_PREPARE_PERSISTENT, &cached,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(cached);
    cached = nullptr;
    result = failure("preparing a statement");
  }
  return cached;
}

// A change must be visible as one: with the clock frozen or set back, the time still moves.
long long Store::nextModified(long long previous) const {
  return std::max(localTicksNow(), previous + 1);
}

bool Store::raiseChangeToken(int folder, pim::Result& result) {
  sqlite3_stmt* s = statement(raiseToken, result);
  if (!s) return false;
  Use use(s);
  sqlite3_bind_int(s, 1, folder);
  if (sqlite3_step(s) == SQLITE_DONE) return true;
  result = failure("raising the change token");
  return false;
}

pim::Result Store::changeToken(int folder, long long& token) {
  if (!isPimFolder(folder))
    return fail(pim::Status::badFolder, "no PIM folder has the id " + std::to_string(folder));
  pim::Result result;
  sqlite3_stmt* s = statement(readToken, result);
  if (!s) return result;
  Use use(s);
  sqlite3_bind_int(s, 1, folder);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) token = sqlite3_column_int64(s, 0);
  else if (rc == SQLITE_DONE) token = 0;  // never changed
  else return failure("reading the change token");
  return result;
}

bool Store::readSubscribers(int folder, std::vector<Subscriber>& subscribers,
                            pim::Result& result) {
  sqlite3_stmt* s = statement(subscribersOf, result);
  if (!s) return false;
  Use use(s);
  sqlite3_bind_int(s, 1, folder);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    subscribers.push_back(Subscriber{sqlite3_column_int64(s, 0),
                                     static_cast<DWORD>(sqlite3_column_int64(s, 1)),
                                     sqlite3_column_int(s, 2),
                                     static_cast<unsigned long long>(sqlite3_column_int64(s, 3))});
  if (rc != SQLITE_DONE) {
    result = failure("reading the subscriptions");
    return false;
  }
  return true;
}

pim::Result Store::addItem(int folder, const std::string& subject, CommittedChange& change) {
  if (!isPimFolder(folder))
    return fail(pim::Status::badFolder, "no PIM folder has the id " + std::to_string(folder));
  if (pim::Result checked = checkSubject(subject); !checked) return checked;
  Transaction transaction(*this);
  if (pim::Result begun = transaction.begin(); !begun) return begun;
  pim::Result result;
  sqlite3_stmt* s = statement(insertItem, result);
  if (!s) return result;
  {
    Use use(s);
    sqlite3_bind_int(s, 1, folder);
    sqlite3_bind_text(s, 2, subject.data(), static_cast<int>(subject.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 3, localTicksNow());
    if (sqlite3_step(s) != SQLITE_DONE) return failure("adding an item");
  }
  sqlite3_int64 oid = sqlite3_last_insert_rowid(db_);
  if (oid > maxOid) return fail(pim::Status::storeFailed, "pim.db: object ids are used up");
  change = CommittedChange{Change::created, static_cast<DWORD>(oid), folder, {}};
  if (!raiseChangeToken(folder, result)) return result;
  if (!readSubscribers(folder, change.subscribers, result)) return result;
  return transaction.commit();
}

pim::Result Store::changeItem(DWORD oid, const std::optional<std::string>& subject,
                              CommittedChange& change) {
  if (subject)
    if (pim::Result checked = checkSubject(*subject); !checked) return checked;
  Transaction transaction(*this);
  if (pim::Result begun = transaction.begin(); !begun) return begun;
  pim::Result result;
  sqlite3_stmt* find = statement(findItem, result);
  sqlite3_stmt* update = statement(updateItem, result);
  if (!find || !update) return result;
  int folder;
  long long modified;
  {
    Use use(find);
    sqlite3_bind_int64(find, 1, oid);
    int rc = sqlite3_step(find);
    if (rc == SQLITE_DONE) return noSuchItem(oid);
    if (rc != SQLITE_ROW) return failure("reading an item");
    folder = sqlite3_column_int(find, 0);
    modified = sqlite3_column_int64(find, 1);
  }
  {
    Use use(update);
    sqlite3_bind_int64(update, 1, oid);
    if (subject)
      sqlite3_bind_text(update, 2, subject->data(), static_cast<int>(subject->size()),
                        SQLITE_STATIC);
    sqlite3_bind_int64(update, 3, nextModified(modified));
    if (sqlite3_step(update) != SQLITE_DONE) return failure("changing an item");
  }
  change = CommittedChange{Change::changed, oid, folder, {}};
  if (!raiseChangeToken(folder, result)) return result;
  if (!readSubscribers(folder, change.subscribers, result)) return result;
  return transaction.commit();
}

pim::Result Store::deleteItem(DWORD oid, CommittedChange& change) {
  Transaction transaction(*this);
  if (pim::Result begun = transaction.begin(); !begun) return begun;
  pim::Result result;
  sqlite3_stmt* find = statement(findItem, result);
  sqlite3_stmt* remove = statement(removeItem, result);
  if (!find || !remove) return result;
  int folder;
  {
    Use use(find);
    sqlite3_bind_int64(find, 1, oid);
    int rc = sqlite3_step(find);
    if (rc == SQLITE_DONE) return noSuchItem(oid);
    if (rc != SQLITE_ROW) return failure("reading an item");
    folder = sqlite3_column_int(find, 0);
  }
  {
    Use use(remove);
    sqlite3_bind_int64(remove, 1, oid);
    if (sqlite3_step(remove) != SQLITE_DONE) return failure("deleting an item");
  }
  change = CommittedChange{Change::deleted, oid, folder, {}};
  if (!raiseChangeToken(folder, result)) return result;
  if (!readSubscribers(folder, change.subscribers, result)) return result;
  return transaction.commit();
}

pim::Result Store::listItems(int folder, std::vector<pim::Item>& items) {
  if (folder != 0 && !isPimFolder(folder))
    return fail(pim::Status::badFolder, "no PIM folder has the id " + std::to_string(folder));
  pim::Result result;
  sqlite3_stmt* s = statement(folder == 0 ? itemsOfAll : itemsOfFolder, result);
  if (!s) return result;
  Use use(s);
  if (folder != 0) sqlite3_bind_int(s, 1, folder);
  items.clear();
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
    items.push_back(pim::Item{static_cast<DWORD>(sqlite3_column_int64(s, 0)),
                              sqlite3_column_int(s, 1),
                              std::string(text ? text : "",
                                          static_cast<size_t>(sqlite3_column_bytes(s, 2))),
                              fileTimeOf(sqlite3_column_int64(s, 3))});
  }
  if (rc != SQLITE_DONE) return failure("listing items");
  return result;
}

pim::Result Store::listSubscriptions(std::vector<pim::Subscription>& subscriptions,
                                     std::vector<Subscriber>* subscribers) {
  pim::Result result;
  sqlite3_stmt* s = statement(allSubscriptions, result);
  if (!s) return result;
  Use use(s);
  subscriptions.clear();
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    subscriptions.push_back(pim::Subscription{
        reinterpret_cast<HWND>(static_cast<intptr_t>(sqlite3_column_int64(s, 0))),
        sqlite3_column_int(s, 1), static_cast<DWORD>(sqlite3_column_int64(s, 2)),
        sqlite3_column_int(s, 3)});
    if (subscribers)
      subscribers->push_back(
          Subscriber{sqlite3_column_int64(s, 0), static_cast<DWORD>(sqlite3_column_int64(s, 2)),
                     sqlite3_column_int(s, 3),
                     static_cast<unsigned long long>(sqlite3_column_int64(s, 4))});
  }
  if (rc != SQLITE_DONE) return failure("listing subscriptions");
  return result;
}

pim::Result Store::subscribe(long long window, int folder, DWORD mode, int pid,
                             unsigned long long started) {
  if (!isPimFolder(folder))
    return fail(pim::Status::badFolder, "no PIM folder has the id " + std::to_string(folder));
  pim::Result result;
  sqlite3_stmt* s = statement(mode == 0 ? removeSubscription : upsertSubscription, result);
  if (!s) return result;
  Use use(s);
  sqlite3_bind_int64(s, 1, window);
  sqlite3_bind_int(s, 2, folder);
  if (mode != 0) {
    sqlite3_bind_int64(s, 3, mode);
    sqlite3_bind_int(s, 4, pid);
    sqlite3_bind_int64(s, 5, static_cast<sqlite3_int64>(started));
  }
  // One statement outside a transaction is its own durable commit.
  if (sqlite3_step(s) != SQLITE_DONE) return failure("recording a subscription");
  return result;
}

pim::Result Store::endSubscriptions(const std::vector<long long>& windows) {
  if (windows.empty()) return {};
  Transaction transaction(*this);
  if (pim::Result begun = transaction.begin(); !begun) return begun;
  pim::Result result;
  sqlite3_stmt* s = statement(removeWindow, result);
  if (!s) return result;
  for (long long window : windows) {
    Use use(s);
    sqlite3_bind_int64(s, 1, window);
    if (sqlite3_step(s) != SQLITE_DONE) return failure("ending subscriptions");
  }
  return transaction.commit();
}

}  // namespace ce::poom
