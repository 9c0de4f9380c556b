// The schema of registry.db (version 3, in PRAGMA user_version):
//   keys(id, parent, name, name_key)      one row per key; HKEY_LOCAL_MACHINE is id 1 without
//                                         a parent; `name` as it was created, `name_key` its
//                                         comparison key, unique per parent
//   key_values(id, key, name, name_key, type, data)
//                                         one row per value, unique per key by `name_key`
// Rows are numbered in creation order, the order in which values enumerate; subkeys enumerate
// in the order of their comparison keys, as the device keeps them.
//
// Why a key column of our own: the device compares names upper-cased by its own table, which
// no SQLite collation knows. A collation of ours in the schema would make the file unreadable
// to every other SQLite tool (the sqlite3 shell cannot even check it), so the program computes
// the key (comparisonKey in key_names.h, the one function for storing and for looking up) and
// the schema holds only plain columns, indexes and SQLite's built-in BINARY comparison. The key
// is UTF-16BE bytes, so that comparing bytes orders names as the device's 16-bit text does.
//
// Why a parent column and no path: a path is looked up one name at a time, one indexed step
// each, so a key costs what its own name costs however deep it lies; storing full paths made a
// chain of nested keys cost the square of its depth. A subtree is found by a recursive query.
//
// Versions 1 (SQLite's NOCASE) and 2 (a collation of ours) had a `path` column; they are
// upgraded in place on first open (store_migration.cpp).
#include "platform/linux/registry/store_schema.h"

#include "platform/linux/registry/sqlite_handles.h"
#include "platform/linux/sqlite/wal.h"

namespace ce::registry {

// SQLite result -> the registry's error code.
LONG errorOf(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
      return ERROR_BADDB;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_FULL:
      return ERROR_CANTWRITE;
    case SQLITE_IOERR:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    case SQLITE_CONSTRAINT:
      // The only constraint a checked write can break: its key was deleted meanwhile.
      return ERROR_KEY_DELETED;
    default:
      return ERROR_GEN_FAILURE;
  }
}

LONG execute(sqlite3* db, const char* sql, bool writing) {
  return errorOf(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), writing);
}

const char* const keysTable =
    "CREATE TABLE keys (\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  parent INTEGER REFERENCES keys(id),\n"
    "  name TEXT NOT NULL,\n"
    "  name_key BLOB NOT NULL\n"
    ")";

const char* const valuesTable =
    "CREATE TABLE key_values (\n"
    "  id INTEGER PRIMARY KEY,\n"
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,\n"
    "  name TEXT NOT NULL,\n"
    "  name_key BLOB NOT NULL,\n"
    "  type INTEGER NOT NULL,\n"
    "  data BLOB NOT NULL\n"
    ")";

const char* const schemaIndexes = R"sql(
CREATE UNIQUE INDEX keys_by_name ON keys(parent, name_key);
CREATE UNIQUE INDEX values_by_name ON key_values(key, name_key);
CREATE INDEX values_in_order ON key_values(key, id);
PRAGMA user_version = 3;
)sql";

namespace {

// sqlite3's .dump leaves PRAGMA user_version out: a copy reloaded from one holds our two
// tables, word for word as we made them, at version 0. It is taken for what it is.
LONG isReloadedDump(sqlite3* db, bool& reloaded) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db,
                              "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND"
                              " ((name = 'keys' AND sql = ?1) OR"
                              "  (name = 'key_values' AND sql = ?2))",
                              -1, &raw, nullptr);
  Statement statement(raw);
  if (rc != SQLITE_OK) return errorOf(rc, false);
  sqlite3_bind_text(raw, 1, keysTable, -1, SQLITE_STATIC);
  sqlite3_bind_text(raw, 2, valuesTable, -1, SQLITE_STATIC);
  if ((rc = sqlite3_step(raw)) != SQLITE_ROW) return errorOf(rc, false);
  reloaded = sqlite3_column_int(raw, 0) == 2;
  return ERROR_SUCCESS;
}

// The schema version and the number of schema objects, read in one snapshot (another process
// may be creating the schema meanwhile).
LONG readSchemaState(sqlite3* db, long long& version, long long& objects) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT (SELECT user_version FROM pragma_user_version), count(*) FROM sqlite_master",
      -1, &raw, nullptr);
  Statement statement(raw);
  if (rc != SQLITE_OK) return errorOf(rc, false);
  rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW) return errorOf(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, false);
  version = sqlite3_column_int64(raw, 0);
  objects = sqlite3_column_int64(raw, 1);
  return ERROR_SUCCESS;
}

}  // namespace

LONG prepareSchema(sqlite3* db) {
  long long version = 0, objects = 0;
  if (LONG rc = readSchemaState(db, version, objects)) return rc;
  if (version == schemaVersion) return ERROR_SUCCESS;
  if (version == 1 || version == 2) return upgradeToVersion3(db);
  if (version == 0 && objects != 0) {
    bool reloaded = false;
    if (LONG rc = isReloadedDump(db, reloaded)) return rc;
    if (!reloaded) return ERROR_BADDB;
    return execute(db, "PRAGMA user_version = 3", true);
  }
  if (version != 0) return ERROR_BADDB;
  // The journal mode sticks to the file: set it before the first write.
  if (LONG rc = errorOf(ce::sqlite::switchToWal(db, busyTimeoutMilliseconds), true)) return rc;
  if (LONG rc = execute(db, "BEGIN IMMEDIATE", true)) return rc;
  // Another process may have created the schema while we waited for the lock.
  LONG rc = readSchemaState(db, version, objects);
  if (rc == ERROR_SUCCESS && version == 0) {
    rc = objects != 0 ? ERROR_BADDB : execute(db, keysTable, true);
    if (rc == ERROR_SUCCESS) rc = execute(db, valuesTable, true);
    if (rc == ERROR_SUCCESS)
      rc = execute(db, "INSERT INTO keys(id, parent, name, name_key) VALUES (1, NULL, '', x'')",
                   true);
    if (rc == ERROR_SUCCESS) rc = execute(db, schemaIndexes, true);
  }
  if (rc == ERROR_SUCCESS && version > schemaVersion) rc = ERROR_BADDB;
  if (rc == ERROR_SUCCESS) rc = execute(db, "COMMIT", true);
  if (rc != ERROR_SUCCESS) execute(db, "ROLLBACK", true);
  // Another process made an older schema while we waited: upgrade it now.
  if (rc == ERROR_SUCCESS && (version == 1 || version == 2)) rc = upgradeToVersion3(db);
  return rc;
}

}  // namespace ce::registry
