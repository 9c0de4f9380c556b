// The registry's keys and value names for a tool that only looks (platform/linux/store_glance.h).
// Reads version 3 stores only: an older one is upgraded by the device's next open, not here.
#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/sqlite_handles.h"
#include "platform/linux/registry/store_schema.h"
#include "platform/linux/sqlite/glance.h"
#include "platform/linux/store_glance.h"

namespace ce {

namespace {

constexpr sqlite3_int64 rootKeyId = 1;

registry::Statement prepared(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return registry::Statement();
  }
  return registry::Statement(raw);
}

bool isCurrentSchema(sqlite3* db) {
  registry::Statement version = prepared(db, "PRAGMA user_version");
  return version.get() && sqlite3_step(version.get()) == SQLITE_ROW &&
         sqlite3_column_int(version.get(), 0) == registry::schemaVersion;
}

// The id of the key at `keyPath`, one name at a time as the registry walks it; 0 when it is
// not there.
sqlite3_int64 keyIdOf(sqlite3* db, const std::wstring& keyPath) {
  std::vector<registry::StoredName> names;
  if (registry::splitKeyPath(keyPath.c_str(), names) != ERROR_SUCCESS) return 0;
  registry::Statement child =
      prepared(db, "SELECT id FROM keys WHERE parent = ?1 AND name_key = ?2");
  if (!child.get()) return 0;
  sqlite3_int64 id = rootKeyId;
  for (const auto& name : names) {
    sqlite3_reset(child.get());
    sqlite3_bind_int64(child.get(), 1, id);
    sqlite3_bind_blob(child.get(), 2, name.key.data(), static_cast<int>(name.key.size()),
                      SQLITE_STATIC);
    if (sqlite3_step(child.get()) != SQLITE_ROW) return 0;
    id = sqlite3_column_int64(child.get(), 0);
  }
  return id;
}

// The names `sql` gives for the key at `keyPath` (bound as ?1).
std::vector<std::wstring> namesBelow(const std::string& storeFile, const std::wstring& keyPath,
                                     const char* sql) {
  std::vector<std::wstring> names;
  sqlite::GlanceConnection db = sqlite::openToGlance(storeFile);
  if (!db || !isCurrentSchema(db.get())) return names;
  // One read transaction, ended by the close: the key and its names from the same commit.
  if (sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) return names;
  sqlite3_int64 id = keyIdOf(db.get(), keyPath);
  registry::Statement rows = id ? prepared(db.get(), sql) : registry::Statement();
  if (rows.get()) {
    sqlite3_bind_int64(rows.get(), 1, id);
    while (sqlite3_step(rows.get()) == SQLITE_ROW) {
      auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows.get(), 0));
      size_t size = static_cast<size_t>(sqlite3_column_bytes(rows.get(), 0));
      names.push_back(registry::wideNameOf(std::string_view(text ? text : "", size)));
    }
  }
  return names;
}

}  // namespace

std::vector<std::wstring> glanceSubkeys(const std::string& storeFile, const std::wstring& keyPath) {
  return namesBelow(storeFile, keyPath,
                    "SELECT name FROM keys WHERE parent = ?1 ORDER BY name_key");
}

std::vector<std::wstring> glanceValueNames(const std::string& storeFile,
                                           const std::wstring& keyPath) {
  return namesBelow(storeFile, keyPath, "SELECT name FROM key_values WHERE key = ?1 ORDER BY id");
}

}  // namespace ce
