// Version 1 -> 2: the same tables, their names compared by the Unicode collation instead of
// SQLite's NOCASE. A column's collation cannot be altered, so the tables are rebuilt, keeping
// every id (handles and enumeration order rest on them) and the key counter, so that a
// deleted key's id is never handed out again.
#include "platform/registry/sqlite_handles.h"
#include "platform/registry/store_schema.h"

namespace ce::registry {

namespace {

const char* const rebuild = R"sql(
CREATE TABLE keys_v2 (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  path TEXT NOT NULL COLLATE REGISTRY_NOCASE UNIQUE
);
INSERT INTO keys_v2(id, parent, name, path) SELECT id, parent, name, path FROM keys ORDER BY id;
CREATE TABLE key_values_v2 (
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE REGISTRY_NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key, name)
);
INSERT INTO key_values_v2(id, key, name, type, data)
  SELECT id, key, name, type, data FROM key_values ORDER BY id;
UPDATE sqlite_sequence SET seq = max(seq, (SELECT seq FROM sqlite_sequence WHERE name = 'keys'))
  WHERE name = 'keys_v2';
DROP TABLE key_values;
DROP TABLE keys;
ALTER TABLE keys_v2 RENAME TO keys;
ALTER TABLE key_values_v2 RENAME TO key_values;
CREATE INDEX keys_by_parent ON keys(parent, id);
PRAGMA user_version = 2;
)sql";

LONG userVersion(sqlite3* db, long long& version) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &raw, nullptr);
  Statement statement(raw);
  if (rc != SQLITE_OK) return errorOf(rc, false);
  if ((rc = sqlite3_step(raw)) != SQLITE_ROW) return errorOf(rc, false);
  version = sqlite3_column_int64(raw, 0);
  return ERROR_SUCCESS;
}

}  // namespace

LONG migrateFromVersion1(sqlite3* db) {
  if (LONG rc = execute(db, "BEGIN IMMEDIATE", true)) return rc;
  long long version = 0;
  LONG rc = userVersion(db, version);  // another process may have migrated it meanwhile
  if (rc == ERROR_SUCCESS && version == 1) {
    int result = sqlite3_exec(db, rebuild, nullptr, nullptr, nullptr);
    // Two names that only the new collation finds equal: keep the store as it was.
    if ((result & 0xFF) == SQLITE_CONSTRAINT) {
      execute(db, "ROLLBACK", true);
      return ERROR_SUCCESS;
    }
    rc = errorOf(result, true);
  }
  if (rc == ERROR_SUCCESS) rc = execute(db, "COMMIT", true);
  if (rc != ERROR_SUCCESS) execute(db, "ROLLBACK", true);
  return rc;
}

}  // namespace ce::registry
