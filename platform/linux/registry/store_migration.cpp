// Versions 1 and 2 -> 3: the same keys and values, their names given the comparison key column
// in place of a collation, and the full-path column dropped. The tables are rebuilt keeping
// every id (enumeration order and open handles rest on them) and the key counter, so that a
// deleted key's id is never handed out again.
//
// Two names of one key that the old comparison told apart may be equal now (version 1 folded
// ASCII only, version 2 all of Unicode, where "I" and "ı" differ). Both rows are kept: the
// later one gets a key no name can have (an odd byte count, with its id, still a BLOB: SQLite
// sorts every TEXT before any BLOB), so lookups by name find the earlier, enumeration still
// lists both, and nothing is lost. The device has no way to make such a pair; only an old store
// can hold one.
#include <string>

#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/sqlite_handles.h"
#include "platform/linux/registry/store_schema.h"

namespace ce::registry {

namespace {

const char* const rebuild = R"sql(
ALTER TABLE key_values RENAME TO old_values;
ALTER TABLE keys RENAME TO old_keys;
)sql";

const char* const copyRows = R"sql(
INSERT INTO keys(id, parent, name, name_key)
  SELECT id, parent, name, registry_name_key(name) FROM old_keys ORDER BY id;
INSERT INTO key_values(id, key, name, name_key, type, data)
  SELECT id, key, name, registry_name_key(name), type, data FROM old_values ORDER BY id;
CREATE INDEX twin_keys ON keys(parent, name_key);
UPDATE keys SET name_key = CAST(name_key || x'00' || printf('%020d', id) AS BLOB)
  WHERE EXISTS (SELECT 1 FROM keys AS first WHERE first.parent = keys.parent
                AND first.name_key = keys.name_key AND first.id < keys.id);
DROP INDEX twin_keys;
CREATE INDEX twin_values ON key_values(key, name_key);
UPDATE key_values SET name_key = CAST(name_key || x'00' || printf('%020d', id) AS BLOB)
  WHERE EXISTS (SELECT 1 FROM key_values AS first WHERE first.key = key_values.key
                AND first.name_key = key_values.name_key AND first.id < key_values.id);
DROP INDEX twin_values;
UPDATE sqlite_sequence
  SET seq = max(seq, ifnull((SELECT seq FROM sqlite_sequence WHERE name = 'old_keys'), 0))
  WHERE name = 'keys';
DROP TABLE old_values;
DROP TABLE old_keys;
)sql";

// registry_name_key(name): the comparison key of a stored name, for the rebuild only.
void nameKeyFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
  auto* text = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
  size_t size = static_cast<size_t>(sqlite3_value_bytes(arguments[0]));
  std::string key = comparisonKey(wideNameOf(std::string_view(text ? text : "", size)));
  sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
}

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

LONG upgradeToVersion3(sqlite3* db) {
  if (int rc = sqlite3_create_function(db, "registry_name_key", 1,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                       nameKeyFunction, nullptr, nullptr))
    return errorOf(rc, false);
  if (LONG rc = execute(db, "BEGIN IMMEDIATE", true)) return rc;
  long long version = 0;
  LONG rc = userVersion(db, version);  // another process may have upgraded it meanwhile
  if (rc == ERROR_SUCCESS && (version == 1 || version == 2)) {
    rc = execute(db, rebuild, true);
    if (rc == ERROR_SUCCESS) rc = execute(db, keysTable, true);
    if (rc == ERROR_SUCCESS) rc = execute(db, valuesTable, true);
    if (rc == ERROR_SUCCESS) rc = execute(db, copyRows, true);
    if (rc == ERROR_SUCCESS) rc = execute(db, schemaIndexes, true);
  } else if (rc == ERROR_SUCCESS && version != schemaVersion) {
    rc = ERROR_BADDB;
  }
  if (rc == ERROR_SUCCESS) rc = execute(db, "COMMIT", true);
  if (rc != ERROR_SUCCESS) execute(db, "ROLLBACK", true);
  sqlite3_create_function(db, "registry_name_key", 1, SQLITE_UTF8, nullptr, nullptr, nullptr,
                          nullptr);
  return rc;
}

}  // namespace ce::registry
