#include "platform/linux/sqlite/published_state.h"

#include <atomic>
#include <cstring>

namespace ce::sqlite {

namespace {

// The index header is two copies of 48 bytes: a writer fills the second, then the first, and
// a reader that finds them equal (with isInit set) has a header no writer was in the middle of.
constexpr size_t headerBytes = sizeof(PublishedHeader);
constexpr size_t isInitByte = 12;
// SQLite maps the index in regions of 32 KiB; the header is in the first.
constexpr int regionBytes = 32768;

bool inWalMode(sqlite3* db) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA main.journal_mode", -1, &statement, nullptr) != SQLITE_OK)
    return false;
  bool wal = false;
  if (sqlite3_step(statement) == SQLITE_ROW) {
    const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    wal = mode && std::strcmp(mode, "wal") == 0;
  }
  sqlite3_finalize(statement);
  return wal;
}

}  // namespace

PublishedState PublishedState::of(sqlite3* db) {
  PublishedState state;
  if (!db || !inWalMode(db)) return state;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
      !file->pMethods || file->pMethods->iVersion < 2 || !file->pMethods->xShmMap)
    return state;
  // Without extending: the region exists once the connection has read in WAL mode, and the
  // call then only hands back SQLite's own mapping of it.
  void volatile* region = nullptr;
  if (file->pMethods->xShmMap(file, 0, regionBytes, 0, &region) != SQLITE_OK || !region)
    return state;
  state.index_ = static_cast<const volatile unsigned char*>(region);
  return state;
}

std::optional<PublishedHeader> PublishedState::now() const {
  if (!index_) return std::nullopt;
  PublishedHeader first, second;
  // In the order SQLite's readers use: the first copy, a barrier, the second.
  for (size_t i = 0; i < headerBytes; ++i) first[i] = index_[i];
  std::atomic_thread_fence(std::memory_order_acquire);
  for (size_t i = 0; i < headerBytes; ++i) second[i] = index_[headerBytes + i];
  if (first != second || first[isInitByte] == 0) return std::nullopt;
  return first;
}

}  // namespace ce::sqlite
