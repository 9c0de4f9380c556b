#include "platform/linux/sqlite/wal.h"

#include <chrono>
#include <thread>

namespace ce::sqlite {

// Switching a new file to WAL answers SQLITE_BUSY at once, without the busy handler, while
// another process is switching it too. That race only happens while a device is new, so
// retrying within the caller's usual bound is enough.
int switchToWal(sqlite3* db, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int code = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if ((code & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) return code;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace ce::sqlite
