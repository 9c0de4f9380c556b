// Owning wrappers for SQLite's connection and statement handles. Platform-internal.
#pragma once

#include <sqlite3.h>

#include <utility>

namespace ce::registry {

class Connection {
 public:
  Connection() = default;
  explicit Connection(sqlite3* db) : db_(db) {}
  Connection(Connection&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}
  Connection& operator=(Connection&& other) noexcept {
    if (this != &other) {
      close();
      db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close(); }

  sqlite3* get() const { return db_; }
  // Gives up ownership without closing (a forked child must not touch its parent's connection).
  sqlite3* release() { return std::exchange(db_, nullptr); }

 private:
  void close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement() = default;
  explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
  Statement(Statement&& other) noexcept
      : statement_(std::exchange(other.statement_, nullptr)) {}
  Statement& operator=(Statement&& other) noexcept {
    if (this != &other) {
      finalize();
      statement_ = std::exchange(other.statement_, nullptr);
    }
    return *this;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { finalize(); }

  sqlite3_stmt* get() const { return statement_; }
  sqlite3_stmt* release() { return std::exchange(statement_, nullptr); }

 private:
  void finalize() {
    if (statement_) sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
  sqlite3_stmt* statement_ = nullptr;
};

// Resets a cached statement and its bindings when a use of it ends, on every path.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() {
    if (!statement_) return;  // sqlite3_clear_bindings does not take null
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

}  // namespace ce::registry
