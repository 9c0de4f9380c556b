// The PIM store's items for a tool that only looks (platform/linux/store_glance.h). Any
// schema version has these columns, so no version is asked for.
#include "platform/linux/sqlite/glance.h"
#include "platform/linux/store_glance.h"

namespace ce {

std::vector<pim::Item> glancePimItems(const std::string& storeFile) {
  std::vector<pim::Item> items;
  sqlite::GlanceConnection db = sqlite::openToGlance(storeFile);
  if (!db) return items;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), "SELECT oid, folder, subject FROM items ORDER BY oid", -1,
                         &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return items;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> rows(raw, &sqlite3_finalize);
  while (sqlite3_step(raw) == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(raw, 2));
    items.push_back(pim::Item{static_cast<DWORD>(sqlite3_column_int64(raw, 0)),
                              sqlite3_column_int(raw, 1),
                              std::string(text ? text : "",
                                          static_cast<size_t>(sqlite3_column_bytes(raw, 2))),
                              FILETIME{}});
  }
  return items;
}

}  // namespace ce
