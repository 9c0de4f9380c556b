// A device store as another process sees it: SQL on a connection of its own. Only for test
// programs that link SQLite.
#pragma once

#include <sqlite3.h>

#include <string>

namespace ce::test {

// Runs `sql` on a new connection to `file`; SQLite's result.
inline int sqlExec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(file.c_str(), &db);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return rc;
}

// The first column of the first row `sql` gives, as text; "<none>" when there is none.
inline std::string sqlValue(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* row = nullptr;
  std::string value = "<none>";
  if (sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &row, nullptr) == SQLITE_OK &&
      sqlite3_step(row) == SQLITE_ROW && sqlite3_column_text(row, 0))
    value = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
  sqlite3_finalize(row);
  sqlite3_close(db);
  return value;
}

// Another writer's open transaction on `file`: holds its lock until released or destroyed.
class StoreWriter {
 public:
  explicit StoreWriter(const std::string& file, const char* begin = "BEGIN IMMEDIATE") {
    held_ = sqlite3_open(file.c_str(), &db_) == SQLITE_OK &&
            sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~StoreWriter() {
    release();
    sqlite3_close(db_);
  }
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  bool held() const { return held_; }
  void release() {
    if (held_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    held_ = false;
  }

 private:
  sqlite3* db_ = nullptr;
  bool held_ = false;
};

}  // namespace ce::test
