// The registry's SQLite store: the statements behind the Reg* functions.
//
// Durability and concurrency: the file is in WAL mode with synchronous=FULL, so each commit is
// on disk when it returns (RegFlushKey has nothing left to do), readers never see half a
// write and never block the writer, and a process killed in the middle of a write leaves the
// last committed state. Each RegSetValueExW is one statement and one commit; reads commit
// nothing. Multi-statement writes take the write lock up front (BEGIN IMMEDIATE), so they wait
// in the busy handler instead of failing when another process commits first. A store locked
// for longer than the busy timeout fails with ERROR_BUSY.
#include "platform/registry/registry_store.h"

#include "platform/registry/key_names.h"
#include "platform/registry/name_collation.h"
#include "platform/registry/registry.h"
#include "platform/registry/store_schema.h"
#include "platform/sqlite/open_store.h"

namespace ce::registry {

namespace {

// In the order of Store::StatementId.
const char* const statementTexts[] = {
    "SELECT id, path FROM keys WHERE path = ?1",
    "INSERT INTO keys(parent, name, path) VALUES (?1, ?2, ?3)",
    "DELETE FROM keys WHERE path = ?1 OR (path > ?1 || '\\' AND path < ?1 || ']')",
    "SELECT EXISTS (SELECT 1 FROM keys WHERE id = ?1),"
    " (SELECT count(*) FROM keys WHERE parent = ?1),"
    " (SELECT ifnull(max(length(name)), 0) FROM keys WHERE parent = ?1),"
    " (SELECT count(*) FROM key_values WHERE key = ?1),"
    " (SELECT ifnull(max(length(name)), 0) FROM key_values WHERE key = ?1),"
    " (SELECT ifnull(max(CASE typeof(data) WHEN 'text' THEN (length(data) + 1) * ?2"
    "                  WHEN 'integer' THEN 4 ELSE length(data) END), 0)"
    "  FROM key_values WHERE key = ?1)",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT type, data FROM key_values WHERE key = ?1 AND name = ?2",
    "INSERT INTO key_values(key, name, type, data) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM key_values WHERE key = ?1 AND name = ?2",
    "SELECT name, type, data FROM key_values WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "BEGIN IMMEDIATE",
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

}  // namespace

Store::Store(Connection connection) : connection_(std::move(connection)) {}

LONG Store::open(const std::string& file, int busyTimeoutMs, std::unique_ptr<Store>& store) {
  sqlite3* raw = nullptr;
  int rc = ce::sqlite::openStore(file, &raw);
  Connection connection(raw);
  if (rc != SQLITE_OK) return errorOf(rc, false);
  sqlite3_busy_timeout(raw, busyTimeoutMs);
  if (int error = registerNameCollation(raw)) return errorOf(error, false);
  if (LONG error = prepareSchema(raw)) return error;
  if (LONG error = execute(raw, "PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;", false))
    return error;
  std::unique_ptr<Store> opened(new Store(std::move(connection)));
  if (LONG error = opened->prepareStatements()) return error;
  store = std::move(opened);
  return ERROR_SUCCESS;
}

void Store::setBusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(connection_.get(), milliseconds);
}

LONG Store::prepareStatements() {
  static_assert(sizeof statementTexts / sizeof statementTexts[0] == statementCount);
  statements_.clear();
  for (const char* text : statementTexts) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(connection_.get(), text, -1, SQLITE_PREPARE_PERSISTENT, &raw,
                                nullptr);
    Statement statement(raw);
    // A table or column we expect is missing: somebody else's database.
    if (rc == SQLITE_ERROR) return ERROR_BADDB;
    if (rc != SQLITE_OK) return errorOf(rc, false);
    statements_.push_back(std::move(statement));
  }
  return ERROR_SUCCESS;
}

LONG Store::run(StatementId id, bool writing) {
  StatementUse use(statements_[id].get());
  return errorOf(sqlite3_step(use.get()), writing);
}

void Store::abandon() {
  for (auto& statement : statements_) statement.release();
  static std::vector<sqlite3*> abandoned;  // kept reachable, never closed
  abandoned.push_back(connection_.release());
}

LONG Store::findKey(const std::string& path, KeyRecord& key) {
  StatementUse use(statements_[findKeyByPath].get());
  sqlite3_bind_text(use.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  key.id = sqlite3_column_int64(use.get(), 0);
  auto* text = reinterpret_cast<const char*>(sqlite3_column_text(use.get(), 1));
  key.path.assign(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(use.get(), 1)));
  return ERROR_SUCCESS;
}

LONG Store::createKeys(const KeyRecord& base, const std::vector<std::string>& names,
                       KeyRecord& key, bool& created) {
  created = false;
  // Most calls open a key that exists: one SELECT, no transaction.
  LONG rc = findKey(joinKeyPath(base.path, names), key);
  if (rc != ERROR_FILE_NOT_FOUND) return rc;
  WriteScope scope(*this);
  if ((rc = scope.begin())) return rc;
  KeyRecord parent = base;
  for (const auto& name : names) {
    // Built from the parent's stored path, so every key keeps the case it was created with.
    std::string path = joinKeyPath(parent.path, {name});
    KeyRecord child;
    rc = findKey(path, child);
    created = rc == ERROR_FILE_NOT_FOUND;
    if (created) {
      StatementUse use(statements_[insertKey].get());
      sqlite3_bind_int64(use.get(), 1, parent.id);
      sqlite3_bind_text(use.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
      sqlite3_bind_text(use.get(), 3, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
      rc = errorOf(sqlite3_step(use.get()), true);
      child.id = sqlite3_last_insert_rowid(connection_.get());
      child.path = std::move(path);
    }
    if (rc != ERROR_SUCCESS) return rc;
    parent = std::move(child);
  }
  if ((rc = scope.commit())) return rc;
  key = std::move(parent);
  return ERROR_SUCCESS;
}

LONG Store::deleteTree(const std::string& path) {
  StatementUse use(statements_[deleteKeys].get());
  sqlite3_bind_text(use.get(), 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
  LONG rc = errorOf(sqlite3_step(use.get()), true);
  if (rc == ERROR_SUCCESS && sqlite3_changes(connection_.get()) == 0) rc = ERROR_FILE_NOT_FOUND;
  return rc;
}

LONG Store::countKey(long long id, KeyCounts& counts) {
  StatementUse use(statements_[countKeyContents].get());
  sqlite3_bind_int64(use.get(), 1, id);
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

LONG Store::subkeyAt(long long id, DWORD index, std::string& name) {
  StatementUse use(statements_[subkeyByIndex].get());
  sqlite3_bind_int64(use.get(), 1, id);
  sqlite3_bind_int64(use.get(), 2, index);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  name = textColumn(use.get(), 0);
  return ERROR_SUCCESS;
}

LONG Store::readValueRow(sqlite3_stmt* row, int typeColumn, StoredValue& value) {
  value.type = static_cast<DWORD>(sqlite3_column_int64(row, typeColumn));
  int dataColumn = typeColumn + 1;
  value.bytes.clear();
  value.integer = 0;
  switch (sqlite3_column_type(row, dataColumn)) {
    case SQLITE_INTEGER:
      value.form = StoredValue::Form::integer;
      value.integer = sqlite3_column_int64(row, dataColumn);
      return ERROR_SUCCESS;
    case SQLITE_TEXT: {
      value.form = StoredValue::Form::text;
      auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, dataColumn));
      if (text) value.bytes.assign(text, static_cast<size_t>(sqlite3_column_bytes(row, dataColumn)));
      return ERROR_SUCCESS;
    }
    default: {
      // Bytes; a NULL or a number typed in by hand reads as what SQLite turns it into.
      value.form = StoredValue::Form::bytes;
      auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, dataColumn));
      if (bytes)
        value.bytes.assign(bytes, static_cast<size_t>(sqlite3_column_bytes(row, dataColumn)));
      return ERROR_SUCCESS;
    }
  }
}

LONG Store::readValue(long long key, const std::string& name, StoredValue& value) {
  StatementUse use(statements_[selectValue].get());
  sqlite3_bind_int64(use.get(), 1, key);
  sqlite3_bind_text(use.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  return readValueRow(use.get(), 0, value);
}

LONG Store::writeValue(long long key, const std::string& name, const StoredValue& value) {
  StatementUse use(statements_[upsertValue].get());
  sqlite3_bind_int64(use.get(), 1, key);
  sqlite3_bind_text(use.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_int64(use.get(), 3, value.type);
  const std::string& bytes = value.bytes;
  switch (value.form) {
    case StoredValue::Form::text:
      sqlite3_bind_text(use.get(), 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
      break;
    case StoredValue::Form::integer:
      sqlite3_bind_int64(use.get(), 4, value.integer);
      break;
    case StoredValue::Form::bytes:
      // data() is never null, so an empty value binds as an empty blob, not as NULL.
      sqlite3_bind_blob(use.get(), 4, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
      break;
  }
  return errorOf(sqlite3_step(use.get()), true);
}

LONG Store::deleteValue(long long key, const std::string& name) {
  StatementUse use(statements_[deleteValueByName].get());
  sqlite3_bind_int64(use.get(), 1, key);
  sqlite3_bind_text(use.get(), 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  LONG rc = errorOf(sqlite3_step(use.get()), true);
  if (rc == ERROR_SUCCESS && sqlite3_changes(connection_.get()) == 0) rc = ERROR_FILE_NOT_FOUND;
  return rc;
}

LONG Store::valueAt(long long key, DWORD index, std::string& name, StoredValue& value) {
  StatementUse use(statements_[valueByIndex].get());
  sqlite3_bind_int64(use.get(), 1, key);
  sqlite3_bind_int64(use.get(), 2, index);
  int rc = sqlite3_step(use.get());
  if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
  if (rc != SQLITE_ROW) return errorOf(rc, false);
  name = textColumn(use.get(), 0);
  return readValueRow(use.get(), 1, value);
}

bool Store::transactionIntact() const {
  return depth_ == 0 || !sqlite3_get_autocommit(connection_.get());
}

LONG Store::begin(bool& nested) {
  if (!transactionIntact()) return ERROR_CANTWRITE;
  nested = depth_ > 0;
  LONG rc = run(nested ? savepoint : beginImmediate, true);
  if (rc == ERROR_SUCCESS) ++depth_;
  return rc;
}

LONG Store::commit(bool nested) {
  LONG rc = run(nested ? releaseSavepoint : commitTransaction, true);
  if (rc != ERROR_SUCCESS) {
    rollback(nested);
    return rc;
  }
  --depth_;
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
}

}  // namespace ce::registry
