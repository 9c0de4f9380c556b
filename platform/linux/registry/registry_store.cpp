// The registry's SQLite store: the statements behind the Reg* functions.
//
// Durability and concurrency: the file is in WAL mode with synchronous=FULL, so each commit is
// on disk when it returns (RegFlushKey has nothing left to do), readers never see half a
// write and never block the writer, and a process killed in the middle of a write leaves the
// last committed state. Each RegSetValueExW is one statement and one commit; reads commit
// nothing. Multi-statement writes take the write lock up front (BEGIN IMMEDIATE), so they wait
// in the busy handler instead of failing when another process commits first. A store locked
// for longer than the busy timeout fails with ERROR_BUSY.
//
// Keys are rows that name their parent; a path is looked up one name at a time, each one
// indexed step on (parent, comparison key), so its cost is its number of names and never
// grows with what the registry holds beside it.
//
// A store replaced under its name (a file renamed over registry.db) is noticed before the next
// write: an inotify watch on the folder says when the name may have changed, and only then is
// the file looked at by path. The connection lets go of the old file and opens the new one, so
// writes never go into a file no other process will read. SQLite keeps the log and its index
// beside the file, by name, and leaves them there while any process holds the old file; opened
// with the new file, their pages would pass for the new file's. So the old ones are taken off
// those names first (a process that holds them goes on through its descriptors), and the new
// file gets a log of its own. Reads do not look: they stay on the file they opened until the
// next write.
#include "platform/linux/registry/registry_store.h"

#include <algorithm>
#include <cstdio>

#include "platform/linux/registry/registry.h"
#include "platform/linux/registry/store_schema.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/sqlite/wal.h"

namespace ce::registry {

namespace {

// In the order of Store::StatementId.
const char* const statementTexts[] = {
    "SELECT id FROM keys WHERE parent = ?1 AND name_key = ?2",
    "SELECT 1 FROM keys WHERE id = ?1",
    "INSERT INTO keys(parent, name, name_key) VALUES (?1, ?2, ?3)",
    // The values go with their keys (ON DELETE CASCADE); the keys' own references are checked
    // when the statement ends, by which time the whole subtree is gone.
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
    "  SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)"
    " DELETE FROM keys WHERE id IN tree",
    "SELECT EXISTS (SELECT 1 FROM keys WHERE id = ?1),"
    " (SELECT count(*) FROM keys WHERE parent = ?1),"
    " (SELECT ifnull(max(length(name)), 0) FROM keys WHERE parent = ?1),"
    " (SELECT count(*) FROM key_values WHERE key = ?1),"
    " (SELECT ifnull(max(length(name)), 0) FROM key_values WHERE key = ?1),"
    " (SELECT ifnull(max(CASE typeof(data) WHEN 'text' THEN (length(data) + 1) * ?2"
    "                  WHEN 'integer' THEN 4 ELSE length(data) END), 0)"
    "  FROM key_values WHERE key = ?1)",
    "SELECT name, name_key FROM keys WHERE parent = ?1 ORDER BY name_key LIMIT ?3 OFFSET ?2",
    "SELECT name, name_key FROM keys WHERE parent = ?1 AND name_key > ?2"
    " ORDER BY name_key LIMIT ?3",
    "SELECT type, data FROM key_values WHERE key = ?1 AND name_key = ?2",
    "INSERT INTO key_values(key, name, name_key, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT (key, name_key) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM key_values WHERE key = ?1 AND name_key = ?2",
    "SELECT id, name, type, data FROM key_values WHERE key = ?1 ORDER BY id LIMIT ?3 OFFSET ?2",
    "SELECT id, name, type, data FROM key_values WHERE key = ?1 AND id > ?2"
    " ORDER BY id LIMIT ?3",
    "BEGIN IMMEDIATE",
    "BEGIN",
    "COMMIT",
    "ROLLBACK",
    "SAVEPOINT registry_call",
    "RELEASE registry_call",
    "ROLLBACK TO registry_call",
};

// A text column, with embedded bytes kept (its length comes from SQLite, not a terminator).
std::string textColumn(sqlite3_stmt* row, int column) {
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
  return std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(row, column)));
}

std::string blobColumn(sqlite3_stmt* row, int column) {
  auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, column));
  return std::string(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(row, column)));
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// data() is never null, so an empty key binds as an empty blob, not as NULL.
void bindBlob(sqlite3_stmt* statement, int index, const std::string& bytes) {
  sqlite3_bind_blob(statement, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
}

// The root key must have no parent. One that has one (a single UPDATE in any SQLite tool)
// makes the tree a cycle, which every walk from the root would follow forever; the store is
// refused instead, and `storeProblem` names why. Keys cut off from the root in a cycle of
// their own are harmless: no path reaches them.
LONG checkRoot(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM keys WHERE id = 1 AND parent IS NULL",
                              -1, &raw, nullptr);
  Statement statement(raw);
  if (rc == SQLITE_ERROR) return ERROR_BADDB;  // no keys table: another program's database
  if (rc != SQLITE_OK) return errorOf(rc, false);
  rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  return sqlite3_column_int(raw, 0) == 1 ? ERROR_SUCCESS : ERROR_BADDB;
}

// How long an open waits to put a restored store back in WAL mode: a moment, since it goes
// on without.
constexpr int restoredSwitchMs = 100;

}  // namespace

Store::Store(Connection connection, CommitCounter commits)
    : connection_(std::move(connection)), commits_(std::move(commits)) {}

LONG Store::open(const std::string& file, int busyTimeoutMs, std::unique_ptr<Store>& store) {
  // Both taken before the open: a file replaced in between is seen as replaced at the next
  // write, never the other way round.
  const size_t slash = file.rfind('/');
  ce::sqlite::NameWatch names(slash == std::string::npos ? "." : file.substr(0, slash),
                              {file.substr(slash == std::string::npos ? 0 : slash + 1)},
                              ce::sqlite::NameWatch::Sees::namesOnly);
  std::optional<ce::FileIdentity> identity = ce::fileIdentity(file);
  sqlite3* raw = nullptr;
  int rc = ce::sqlite::openStore(file, &raw);
  Connection connection(raw);
  if (rc != SQLITE_OK) return errorOf(rc, false);
  sqlite3_busy_timeout(raw, busyTimeoutMs);
  // Before foreign keys are on: an upgrade drops the old tables while the new ones refer to
  // their name.
  if (LONG error = prepareSchema(raw)) return error;
  // A store restored from a copy in rollback mode (what VACUUM INTO and most backup tools
  // make) goes back to WAL, or every reader would hold off the writers. The switch needs the
  // file to itself for a moment; while another process is inside a transaction on it, the
  // store stays as it is and the next open tries again.
  ce::sqlite::switchToWal(raw, restoredSwitchMs);
  if (LONG error = execute(raw, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", false))
    return error;
  if (LONG error = checkRoot(raw)) return error;
  std::unique_ptr<Store> opened(new Store(std::move(connection), CommitCounter::beside(file)));
  if (LONG error = opened->prepareStatements()) return error;
  opened->file_ = file;
  opened->busyTimeoutMs_ = busyTimeoutMs;
  opened->names_ = std::move(names);
  opened->identity_ = identity ? identity : ce::fileIdentity(file);  // else made by this open
  // The schema check has read the file, so its log and index are open by now.
  opened->log_ = ce::fileIdentity(file + "-wal");
  opened->index_ = ce::fileIdentity(file + "-shm");
  opened->published_ = ce::sqlite::PublishedState::of(opened->connection_.get());
  store = std::move(opened);
  return ERROR_SUCCESS;
}

void Store::setBusyTimeout(int milliseconds) {
  busyTimeoutMs_ = milliseconds;
  if (!closed_) sqlite3_busy_timeout(connection_.get(), milliseconds);
}

bool Store::replacedUnderName() {
  if (!replaced_ && names_.changed() && ce::fileIdentity(file_) != identity_) replaced_ = true;
  return replaced_;
}

LONG Store::followReplacement() {
  if (depth_ > 0) return ERROR_SUCCESS;  // looked at when the transaction began
  if (closed_ || replacedUnderName()) return reopen();
  return ERROR_SUCCESS;
}

LONG Store::refuse(const char* why) {
  std::fprintf(stderr, "registry: ERROR: %s %s; registry calls are refused\n", file_.c_str(), why);
  std::fflush(stderr);
  return ERROR_CANTWRITE;
}

LONG Store::reopen() {
  if (!closed_) {
    // Let go first: the old log can only be cleared once no process holds it, this one included.
    statements_.clear();
    connection_ = Connection();
    replacedLog_ = log_;
    replacedIndex_ = index_;
    closed_ = true;
  }
  // A store removed rather than replaced is not made again empty behind the device's back.
  if (!ce::fileIdentity(file_)) return refuse("was removed while in use");
  const size_t slash = file_.rfind('/');
  ce::sqlite::ReplacementLock following(slash == std::string::npos ? "." : file_.substr(0, slash));
  if (!ce::sqlite::dropReplacedLog(file_, replacedLog_, replacedIndex_))
    return refuse("was replaced and the old file's log cannot be removed");
  replacedLog_.reset();
  replacedIndex_.reset();
  std::unique_ptr<Store> fresh;
  if (LONG error = open(file_, busyTimeoutMs_, fresh))
    return refuse(error == ERROR_BADDB ? "was replaced by a file that is not a registry store"
                                       : "was replaced and the new file cannot be opened");
  connection_ = std::move(fresh->connection_);
  statements_ = std::move(fresh->statements_);
  commits_ = std::move(fresh->commits_);
  names_ = std::move(fresh->names_);
  identity_ = fresh->identity_;
  log_ = fresh->log_;
  index_ = fresh->index_;
  cache_.clear();
  published_ = fresh->published_;
  closed_ = false;
  replaced_ = false;
  return ERROR_SUCCESS;
}

std::optional<ReadCache::Header> Store::cacheAnswersUnder() {
  if (closed_) return std::nullopt;
  int state = sqlite3_txn_state(connection_.get(), "main");
  if (state == SQLITE_TXN_WRITE) return std::nullopt;
  std::optional<ReadCache::Header> now = published_.now();
  if (state == SQLITE_TXN_READ && snapshot_ != now) return std::nullopt;
  return now;
}

void Store::answeredFromCache(const ReadCache::Header& at) {
  if (depth_ == 0) return;
  if (answered_ && *answered_ != at) mixedReads_ = true;
  answered_ = at;
}

std::optional<ReadCache::Header> Store::readBegins(bool& startsSnapshot) {
  startsSnapshot = !closed_ && depth_ > 0 &&
                   sqlite3_txn_state(connection_.get(), "main") == SQLITE_TXN_NONE;
  return cacheAnswersUnder();
}

std::optional<ReadCache::Header> Store::readEnded(const std::optional<ReadCache::Header>& before,
                                                  bool startsSnapshot) {
  std::optional<ReadCache::Header> seen = before;
  if (seen && published_.now() != seen) seen.reset();
  if (startsSnapshot && sqlite3_txn_state(connection_.get(), "main") == SQLITE_TXN_READ) {
    snapshot_ = seen;
    if (answered_ && answered_ != seen) mixedReads_ = true;
  }
  return seen;
}

void Store::forgetTransactionReads() {
  answered_.reset();
  snapshot_.reset();
  mixedReads_ = false;
}

// Every statement is prepared once here, as the check that the tables and columns are ours,
// and then let go: each holds some KiB of heap for the life of the process, and a listener
// uses few of them. statement() prepares one again at its first use.
LONG Store::prepareStatements() {
  static_assert(sizeof statementTexts / sizeof statementTexts[0] == statementCount);
  for (const char* text : statementTexts) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(connection_.get(), text, -1, &raw, nullptr);
    Statement checked(raw);
    // A table or column we expect is missing: somebody else's database.
    if (rc == SQLITE_ERROR) return ERROR_BADDB;
    if (rc != SQLITE_OK) return errorOf(rc, false);
  }
  statements_.clear();
  statements_.resize(statementCount);
  return ERROR_SUCCESS;
}

// Null when it cannot be prepared (out of memory): SQLite then fails the step, and the call
// with it.
sqlite3_stmt* Store::statement(StatementId id) {
  Statement& prepared = statements_[id];
  if (!prepared.get()) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v3(connection_.get(), statementTexts[id], -1, SQLITE_PREPARE_PERSISTENT, &raw,
                       nullptr);
    prepared = Statement(raw);
  }
  return prepared.get();
}

LONG Store::run(StatementId id, bool writing) {
  StatementUse use(statement(id));
  return errorOf(sqlite3_step(use.get()), writing);
}

LONG Store::writeStep(sqlite3_stmt* statement) {
  int state = depth_ > 0 ? sqlite3_txn_state(connection_.get(), "main") : SQLITE_TXN_NONE;
  // A transaction begun as a reader did not look for a replaced file when it began (it might
  // only read): it looks at its first write, and one that read a file no longer under the
  // store's name runs again as a writer, which follows the replacement first.
  if (depth_ > 0 && beganAsReader_ && state != SQLITE_TXN_WRITE && replacedUnderName()) {
    upgradeRefused_ = true;
    return ERROR_BUSY;
  }
  // A write after reads the cache answered from two states could undo what was committed
  // between them.
  if (depth_ > 0 && mixedReads_) {
    upgradeRefused_ = true;
    return ERROR_BUSY;
  }
  int rc = sqlite3_step(statement);
  // Its first write after a read asks for the write lock without waiting: SQLite refuses it
  // at once when another process holds the lock or committed since this transaction read.
  if (state == SQLITE_TXN_READ && (rc & 0xFF) == SQLITE_BUSY) upgradeRefused_ = true;
  cache_.clear();
  // The write holds the lock now, so the header is the last commit's: one published after
  // what the cache answered means the body read a state that is gone.
  if (rc == SQLITE_DONE && depth_ > 0 && answered_ && published_.now() != answered_) {
    upgradeRefused_ = true;
    return ERROR_BUSY;
  }
  return errorOf(rc, true);
}

StoreVersion Store::version() const {
  StoreVersion now;
  if (commits_.available()) {
    now.commits = commits_.read();
  } else {
    unsigned int data = 0;
    sqlite3_file_control(connection_.get(), "main", SQLITE_FCNTL_DATA_VERSION, &data);
    now.commits = data;
  }
  now.changes = sqlite3_total_changes64(connection_.get());
  return now;
}

void Store::committed() {
  if (depth_ == 0) commits_.bump();
}

void Store::releaseMemory() {
  if (connection_.get()) sqlite3_db_release_memory(connection_.get());
}

void Store::abandon() {
  for (auto& prepared : statements_) prepared.release();
  static std::vector<sqlite3*> abandoned;  // kept reachable, never closed
  abandoned.push_back(connection_.release());
}

LONG Store::checkKey(long long key) {
  StatementUse use(statement(selectKey));
  sqlite3_bind_int64(use.get(), 1, key);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return rc == SQLITE_ROW ? ERROR_SUCCESS : errorOf(rc, false);
}

namespace {

// Follows `names` from `key` while they exist; `found` counts the names passed.
LONG walk(sqlite3_stmt* findChild, long long& key, const std::vector<StoredName>& names,
          size_t& found) {
  for (found = 0; found < names.size(); ++found) {
    StatementUse use(findChild);
    sqlite3_bind_int64(use.get(), 1, key);
    bindBlob(use.get(), 2, names[found].key);
    int rc = sqlite3_step(use.get());
    if (rc == SQLITE_DONE) return ERROR_SUCCESS;
    if (rc != SQLITE_ROW) return errorOf(rc, false);
    key = sqlite3_column_int64(use.get(), 0);
  }
  return ERROR_SUCCESS;
}

}  // namespace

// Several reads in one read transaction (when `wanted`): each statement outside one takes and
// drops the WAL index's read lock (two fcntl calls), which costs more than the lookup itself.
// Nothing when a transaction is already open.
class ReadSnapshot {
 public:
  ReadSnapshot(Store& store, bool wanted)
      : store_(store),
        open_(wanted && store.depth_ == 0 && sqlite3_get_autocommit(store.connection_.get()) &&
              store.run(Store::beginRead, false) == ERROR_SUCCESS) {}
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;
  ~ReadSnapshot() {
    if (open_) store_.run(Store::commitTransaction, false);
  }

 private:
  Store& store_;
  bool open_;
};

LONG Store::findKey(long long base, const std::vector<StoredName>& names, long long& key) {
  if (std::optional<ReadCache::Header> now = names.empty() ? std::nullopt : cacheAnswersUnder())
    if (std::optional<long long> kept = cache_.key(base, names, *now)) {
      answeredFromCache(*now);
      key = *kept;
      return ERROR_SUCCESS;
    }
  bool startsSnapshot = false;
  std::optional<ReadCache::Header> before = readBegins(startsSnapshot);
  long long at = base;
  size_t found = 0;
  LONG rc;
  {
    ReadSnapshot snapshot(*this, names.size() > 1);
    rc = walk(statement(findChild), at, names, found);
    if (rc == ERROR_SUCCESS && (found < names.size() || names.empty())) {
      // Missing: because the base itself is gone, or only the name.
      rc = checkKey(base);
      if (rc == ERROR_SUCCESS && found < names.size()) rc = ERROR_FILE_NOT_FOUND;
    }
  }
  std::optional<ReadCache::Header> seen = readEnded(before, startsSnapshot);
  if (rc != ERROR_SUCCESS) return rc;
  if (seen && !names.empty()) cache_.keepKey(base, names, *seen, at);
  key = at;
  return ERROR_SUCCESS;
}

LONG Store::createKeys(long long base, const std::vector<StoredName>& names, long long& key,
                       bool& created) {
  created = false;
  // Most calls open a key that exists: lookups only, no transaction.
  if (LONG rc = findKey(base, names, key); rc != ERROR_FILE_NOT_FOUND) return rc;
  WriteScope scope(*this);
  if (LONG rc = scope.begin()) return rc;
  // Again under the write lock: another process may have made or removed part of it since.
  long long at = base;
  size_t found = 0;
  if (LONG rc = walk(statement(findChild), at, names, found)) return rc;
  for (size_t i = found; i < names.size(); ++i) {
    StatementUse use(statement(insertKey));
    sqlite3_bind_int64(use.get(), 1, at);
    bindText(use.get(), 2, names[i].text);
    bindBlob(use.get(), 3, names[i].key);
    // A parent deleted meanwhile breaks its reference: ERROR_KEY_DELETED.
    if (LONG rc = writeStep(use.get())) return rc;
    at = sqlite3_last_insert_rowid(connection_.get());
  }
  if (LONG rc = scope.commit()) return rc;
  created = found < names.size();
  key = at;
  return ERROR_SUCCESS;
}

LONG Store::deleteTree(long long key) {
  if (LONG rc = followReplacement()) return rc;
  StatementUse use(statement(deleteSubtree));
  sqlite3_bind_int64(use.get(), 1, key);
  LONG rc = writeStep(use.get());
  if (rc == ERROR_SUCCESS && sqlite3_changes(connection_.get()) == 0) rc = ERROR_FILE_NOT_FOUND;
  if (rc == ERROR_SUCCESS) committed();
  return rc;
}

LONG Store::countKey(long long key, KeyCounts& counts) {
  StatementUse use(statement(countKeyContents));
  sqlite3_bind_int64(use.get(), 1, key);
  sqlite3_bind_int(use.get(), 2, static_cast<int>(sizeof(WCHAR)));
  int rc = sqlite3_step(use.get());
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  if (sqlite3_column_int(use.get(), 0) == 0) return ERROR_KEY_DELETED;
  auto column = [&](int i) { return static_cast<DWORD>(sqlite3_column_int64(use.get(), i)); };
  counts.subKeys = column(1);
  counts.maxSubKeyChars = column(2);
  counts.values = column(3);
  counts.maxValueNameChars = column(4);
  counts.maxValueBytes = column(5);
  return ERROR_SUCCESS;
}

LONG Store::subkeyAt(long long key, DWORD index, EnumCursor& cursor, const WalkRow*& row) {
  return walkTo(Walk::subkeys, key, index, cursor, row);
}

LONG Store::valueAt(long long key, DWORD index, EnumCursor& cursor, const WalkRow*& row) {
  return walkTo(Walk::values, key, index, cursor, row);
}

LONG Store::walkTo(Walk walk, long long key, DWORD index, EnumCursor& cursor,
                   const WalkRow*& row) {
  // Without the commit count, nothing read ahead can be trusted at the next call: each step
  // reads one entry, after the last one when nothing changed meanwhile.
  bool current = cursor.valid && commits_.available() && version() == cursor.version;
  if (current && index >= cursor.first && index - cursor.first < cursor.rows.size()) {
    row = &cursor.rows[index - cursor.first];
    return ERROR_SUCCESS;
  }
  bool follows = cursor.valid && !cursor.rows.empty() && index == cursor.first + cursor.rows.size();
  LONG rc = readAhead(walk, key, index, follows && (current || !commits_.available()), cursor);
  if (rc == ERROR_SUCCESS && cursor.rows.empty()) {
    cursor.valid = false;
    rc = checkKey(key);
    return rc == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : rc;
  }
  if (rc != ERROR_SUCCESS) {
    cursor.valid = false;
    return rc;
  }
  row = &cursor.rows.front();
  return ERROR_SUCCESS;
}

namespace {

// How many entries one statement reads ahead: a few at first (most walks are short), more as a
// walk goes on, within a bound on the bytes held.
constexpr size_t firstReadAhead = 16;
constexpr size_t mostReadAhead = 512;
constexpr size_t readAheadBytes = 1 << 20;

}  // namespace

LONG Store::readRows(Walk walk, long long key, DWORD index, const WalkRow* after, size_t limit,
                     std::vector<WalkRow>& rows, StoreVersion& seen) {
  bool subkeys = walk == Walk::subkeys;
  StatementId id = subkeys ? (after ? subkeysAfter : subkeysFrom)
                           : (after ? valuesAfter : valuesFrom);
  StatementUse use(statement(id));
  sqlite3_bind_int64(use.get(), 1, key);
  if (after && subkeys)
    bindBlob(use.get(), 2, after->sortKey);
  else if (after)
    sqlite3_bind_int64(use.get(), 2, after->id);
  else
    sqlite3_bind_int64(use.get(), 2, index);
  sqlite3_bind_int64(use.get(), 3, static_cast<long long>(limit));
  // With the commit count, counted before the rows are read: a commit counted later may be in
  // them or not, and either way the next call reads again.
  bool counted = commits_.available();
  if (counted) seen = version();
  rows.clear();
  size_t bytes = 0;
  int rc = SQLITE_DONE;
  while (bytes < readAheadBytes && (rc = sqlite3_step(use.get())) == SQLITE_ROW) {
    WalkRow row;
    if (subkeys) {
      row.name = textColumn(use.get(), 0);
      row.sortKey = blobColumn(use.get(), 1);
    } else {
      row.id = sqlite3_column_int64(use.get(), 0);
      row.name = textColumn(use.get(), 1);
      readValueRow(use.get(), 2, row.value);
    }
    bytes += row.name.size() + row.sortKey.size() + row.value.bytes.size();
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return errorOf(rc, false);
  // Without it, the version of the snapshot the statement read.
  if (!counted) seen = version();
  return ERROR_SUCCESS;
}

LONG Store::readAhead(Walk walk, long long key, DWORD index, bool follow, EnumCursor& cursor) {
  bool counted = commits_.available();
  size_t limit = !counted ? 1
                 : follow ? std::clamp(2 * cursor.rows.size(), firstReadAhead, mostReadAhead)
                          : firstReadAhead;
  std::vector<WalkRow> rows;
  StoreVersion seen;
  LONG rc = readRows(walk, key, index, follow ? &cursor.rows.back() : nullptr, limit, rows, seen);
  // Without the commit count, the entry after the last one answered holds only if the store
  // is as it was then; else the index is counted again from the start.
  if (rc == ERROR_SUCCESS && follow && !counted && seen != cursor.version)
    rc = readRows(walk, key, index, nullptr, limit, rows, seen);
  if (rc != ERROR_SUCCESS) return rc;
  cursor.valid = true;
  cursor.first = index;
  cursor.rows = std::move(rows);
  cursor.version = seen;
  return ERROR_SUCCESS;
}

void Store::readValueRow(sqlite3_stmt* row, int typeColumn, StoredValue& value) {
  value.type = static_cast<DWORD>(sqlite3_column_int64(row, typeColumn));
  int dataColumn = typeColumn + 1;
  value.bytes.clear();
  value.integer = 0;
  switch (sqlite3_column_type(row, dataColumn)) {
    case SQLITE_INTEGER:
      value.form = StoredValue::Form::integer;
      value.integer = sqlite3_column_int64(row, dataColumn);
      return;
    case SQLITE_TEXT:
      value.form = StoredValue::Form::text;
      value.bytes = textColumn(row, dataColumn);
      return;
    default:
      // Bytes; a NULL or a number typed in by hand reads as what SQLite turns it into.
      value.form = StoredValue::Form::bytes;
      value.bytes = blobColumn(row, dataColumn);
      return;
  }
}

LONG Store::readValue(long long key, const StoredName& name, StoredValue& value) {
  if (std::optional<ReadCache::Header> now = cacheAnswersUnder())
    if (const StoredValue* kept = cache_.value(key, name, *now)) {
      answeredFromCache(*now);
      value = *kept;
      return ERROR_SUCCESS;
    }
  bool startsSnapshot = false;
  std::optional<ReadCache::Header> before = readBegins(startsSnapshot);
  LONG result;
  {
    StatementUse use(statement(selectValue));
    sqlite3_bind_int64(use.get(), 1, key);
    bindBlob(use.get(), 2, name.key);
    int rc = sqlite3_step(use.get());
    if (rc == SQLITE_ROW) {
      readValueRow(use.get(), 0, value);
      result = ERROR_SUCCESS;
    } else if (rc == SQLITE_DONE) {
      LONG exists = checkKey(key);
      result = exists == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : exists;
    } else {
      result = errorOf(rc, false);
    }
  }
  std::optional<ReadCache::Header> seen = readEnded(before, startsSnapshot);
  if (result == ERROR_SUCCESS && seen) cache_.keepValue(key, name, *seen, value);
  return result;
}

LONG Store::writeValue(long long key, const StoredName& name, const StoredValue& value) {
  if (LONG rc = followReplacement()) return rc;
  StatementUse use(statement(upsertValue));
  sqlite3_bind_int64(use.get(), 1, key);
  bindText(use.get(), 2, name.text);
  bindBlob(use.get(), 3, name.key);
  sqlite3_bind_int64(use.get(), 4, value.type);
  switch (value.form) {
    case StoredValue::Form::text:
      bindText(use.get(), 5, value.bytes);
      break;
    case StoredValue::Form::integer:
      sqlite3_bind_int64(use.get(), 5, value.integer);
      break;
    case StoredValue::Form::bytes:
      bindBlob(use.get(), 5, value.bytes);
      break;
  }
  LONG rc = writeStep(use.get());
  if (rc == ERROR_SUCCESS) committed();
  return rc;
}

LONG Store::writeText(long long key, const StoredName& name, std::string_view text) {
  if (LONG rc = followReplacement()) return rc;
  StatementUse use(statement(upsertValue));
  sqlite3_bind_int64(use.get(), 1, key);
  bindText(use.get(), 2, name.text);
  bindBlob(use.get(), 3, name.key);
  sqlite3_bind_int64(use.get(), 4, REG_SZ);
  // A null pointer would bind NULL: an empty text is bound from a literal.
  sqlite3_bind_text(use.get(), 5, text.empty() ? "" : text.data(),
                    static_cast<int>(text.size()), SQLITE_STATIC);
  LONG rc = writeStep(use.get());
  if (rc == ERROR_SUCCESS) committed();
  return rc;
}

LONG Store::deleteValue(long long key, const StoredName& name) {
  if (LONG rc = followReplacement()) return rc;
  StatementUse use(statement(deleteValueByName));
  sqlite3_bind_int64(use.get(), 1, key);
  bindBlob(use.get(), 2, name.key);
  LONG rc = writeStep(use.get());
  if (rc == ERROR_SUCCESS && sqlite3_changes(connection_.get()) != 0) committed();
  if (rc != ERROR_SUCCESS || sqlite3_changes(connection_.get()) != 0) return rc;
  LONG exists = checkKey(key);
  return exists == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : exists;
}

bool Store::transactionIntact() const {
  return depth_ == 0 || !sqlite3_get_autocommit(connection_.get());
}

LONG Store::begin(bool& nested, Begin how) {
  if (!transactionIntact()) return ERROR_CANTWRITE;
  if (how == Begin::asWriter)
    if (LONG rc = followReplacement()) return rc;
  nested = depth_ > 0;
  if (!nested) {
    upgradeRefused_ = false;
    beganAsReader_ = how == Begin::asReader;
    forgetTransactionReads();
  }
  LONG rc = run(nested ? savepoint : how == Begin::asReader ? beginRead : beginImmediate, true);
  if (rc == ERROR_SUCCESS) ++depth_;
  return rc;
}

LONG Store::commit(bool nested) {
  // A transaction that only read changes nothing a reader could have read ahead.
  bool wrote = sqlite3_txn_state(connection_.get(), "main") == SQLITE_TXN_WRITE;
  LONG rc = run(nested ? releaseSavepoint : commitTransaction, true);
  if (rc != ERROR_SUCCESS) {
    rollback(nested);
    return rc;
  }
  --depth_;
  if (depth_ == 0) forgetTransactionReads();
  if (wrote) committed();
  return ERROR_SUCCESS;
}

void Store::rollback(bool nested) {
  // Errors are ignored: SQLite may already have rolled back by itself.
  if (nested) {
    run(rollbackToSavepoint, true);
    run(releaseSavepoint, true);
  } else {
    run(rollbackTransaction, true);
  }
  --depth_;
  if (depth_ == 0) forgetTransactionReads();
}

}  // namespace ce::registry
