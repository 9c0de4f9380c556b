// The schema of registry.db (version 2, in PRAGMA user_version):
//   keys(id, parent, name, path)          one row per key; HKEY_LOCAL_MACHINE is id 1 with the
//                                         empty path; `path` is the full path below it,
//                                         unique without regard to case (REGISTRY_NOCASE,
//                                         see name_collation.h)
//   key_values(id, key, name, type, data) one row per value, unique per key by name, compared
//                                         the same way
// Version 1 was the same with SQLite's ASCII-only NOCASE; see store_migration.cpp.
// Rows are numbered in creation order, which is the order of enumeration.
//
// Why a path column: the listener's hot path opens one deep key per call. With the full path
// indexed that is one SELECT, whatever the depth, instead of one per path component. A key
// name cannot hold '\', so the path is unambiguous, and a subtree is one index range (every
// path that begins with the key's path and a '\'), so deleting it is one statement too.
#include "platform/registry/store_schema.h"

#include "platform/registry/sqlite_handles.h"
#include "platform/sqlite/wal.h"

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

namespace {

constexpr int schemaVersion = 2;

const char* const schema = R"sql(
CREATE TABLE keys (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  path TEXT NOT NULL COLLATE REGISTRY_NOCASE UNIQUE
);
CREATE INDEX keys_by_parent ON keys(parent, id);
CREATE TABLE key_values (
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE REGISTRY_NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key, name)
);
INSERT INTO keys(id, parent, name, path) VALUES (1, NULL, '', '');
PRAGMA user_version = 2;
)sql";

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
  if (version == 1) return migrateFromVersion1(db);
  if (version != 0 || objects != 0) return ERROR_BADDB;
  // The journal mode sticks to the file: set it before the first write.
  if (LONG rc = errorOf(ce::sqlite::switchToWal(db, busyTimeoutMilliseconds), true)) return rc;
  if (LONG rc = execute(db, "BEGIN IMMEDIATE", true)) return rc;
  // Another process may have created the schema while we waited for the lock.
  LONG rc = readSchemaState(db, version, objects);
  if (rc == ERROR_SUCCESS && version == 0) rc = objects == 0 ? execute(db, schema, true) : ERROR_BADDB;
  if (rc == ERROR_SUCCESS && version != 0 && version != schemaVersion && version != 1)
    rc = ERROR_BADDB;
  if (rc == ERROR_SUCCESS) rc = execute(db, "COMMIT", true);
  if (rc != ERROR_SUCCESS) execute(db, "ROLLBACK", true);
  return rc;
}

}  // namespace ce::registry
