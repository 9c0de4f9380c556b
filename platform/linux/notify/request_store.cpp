// The run-at-time table: one SQLite connection per process, kept open with its statements
// prepared.
//
// CeRunAppAtTime is on the listener's per-change path, so a new request costs exactly one
// durable commit and nothing else: a single upsert in autocommit mode. The same request again
// costs one indexed read. WAL with synchronous=FULL makes
// that commit one append and one fsync of the log, and lets the scheduler read while another
// process writes. Several processes write at once; SQLite's locks serialise them, and a writer
// that finds the table locked waits at most storeBusyTimeoutMs before it gives up.
//
// A store replaced under its name (a rename, a removal) is noticed at the next operation,
// which lets go of the old file and opens the new one: an inotify watch on the folder tells
// when either name changed, and only then are the file and its log looked at by path, so an
// operation pays one read of the watch instead of two stats. SQLite keeps the log and its
// index beside the file, by name, and never removes them for a file that moved, so what is
// left there is the old file's: opened with the new file, its pages would pass for the new
// file's. They are removed once no process holds them any more, which SQLite's own lock on
// the index tells (its "DMS" byte, held shared by every connection); until then the
// connection waits, failing with SQLITE_BUSY.
// FIXME: a process that opens the store for the first time right after a replacement cannot
// know this, and shares the old log until the holders let go.
//
// The format is versioned with user_version. A store of a newer format is refused rather than
// written, so stored requests are never damaged by an older build. Due times are FILETIME
// ticks of local time: integers sort in time order for every year the device knows, which
// text would not past 9999.
#include "platform/linux/notify/request_store.h"

#include <pthread.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/file_identity.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/notify.h"
#include "platform/linux/sqlite/name_watch.h"
#include "platform/linux/notify/time_ticks.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/sqlite/wal.h"
#include "platform/testing.h"

namespace ce::notify::store {

namespace {

constexpr int formatVersion = 1;

// Due times in the future are kept to the whole second: the scheduler's own resolution, and
// the time the listener logs. A burst of changes within one second then asks for the same
// request over and over, which is written once. A time already come is kept exact: the
// scheduler may be claiming the pending request at this moment, and only a different time
// tells it that a newer request replaced the one it listed.
constexpr long long ticksPerSecond = 10000000;
long long atStoreResolution(long long due) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  long long nowTicks = 0;
  long long whole = due - due % ticksPerSecond;
  return ticksOf(now, nowTicks) && whole > nowTicks ? whole : due;
}

// 30827-12-31 23:59:59.999, the last time SYSTEMTIME can hold, in ticks.
const char* const createSchema = R"sql(
CREATE TABLE requests(
  app_key TEXT PRIMARY KEY NOT NULL,
  app TEXT NOT NULL,
  due INTEGER NOT NULL CHECK (due BETWEEN 0 AND 9223149887999999999)
);
CREATE INDEX requests_by_due ON requests(due);
PRAGMA user_version = 1;
)sql";

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Leaves a shared statement ready for its next use, whatever path the caller takes.
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  sqlite3_stmt* operator*() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

struct Connection {
  Database db;
  Statement put, pending, remove, removeExactly, list, earliest;
  // The files it opened, to tell when the store is replaced under its name; looked at only
  // when the watch has seen one of their names change.
  std::string path;
  std::optional<ce::FileIdentity> file, log;
  ce::sqlite::NameWatch names;
  // The last request found pending, until the watch sees the file or its log written by
  // anyone: a burst of changes asks for the same one over and over.
  std::optional<std::tuple<std::string, std::string, long long>> knownPending;
};

std::mutex connectionMutex;
std::optional<Connection> connection;
// The log of a replaced store's file that another process still held when this one let go.
std::optional<ce::FileIdentity> replacedLog;
int busyTimeoutMs = storeBusyTimeoutMs;  // only tests shorten it (platform/testing.h)

// SQLite forbids using a connection inherited through fork(), and closing it could
// checkpoint and remove the parent's WAL under its feet: a child leaves the inherited one
// alone, unclosed, and opens its own. Run in the child by fork() itself, so that no
// operation pays to ask which process it is in.
void abandonInheritedConnection() {
  if (!connection) return;
  static auto* abandoned = new std::vector<Connection>;  // never closed, on purpose
  abandoned->push_back(std::move(*connection));
  connection.reset();
}

Result failure(sqlite3* db, int code) {
  return Result{code, std::string("notify.db: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code))};
}

Result execute(sqlite3* db, const char* sql) {
  int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK ? Result{} : failure(db, code);
}

// The format version and the number of schema objects, in one snapshot: a peer creating
// the table meanwhile is seen whole or not at all.
Result readFormat(sqlite3* db, int& version, long long& objects) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v2(
      db, "SELECT (SELECT user_version FROM pragma_user_version), count(*) FROM sqlite_master",
      -1, &raw, nullptr);
  Statement statement(raw);
  if (code != SQLITE_OK) return failure(db, code);
  code = sqlite3_step(statement.get());
  if (code != SQLITE_ROW) return failure(db, code);
  version = sqlite3_column_int(statement.get(), 0);
  objects = sqlite3_column_int64(statement.get(), 1);
  return {};
}

// Another program's database: it has tables and no format of ours. It is named and left as
// it is; adopting it would write our table and journal mode into someone else's file.
Result refuseForeign(int version, long long objects) {
  if (version != 0 || objects == 0) return {};
  return Result{SQLITE_NOTADB, "notify.db: not a run-at-time store of this device"};
}

Result readFormat(sqlite3* db, int& version) {
  long long objects = 0;
  if (Result r = readFormat(db, version, objects); !r.ok()) return r;
  return refuseForeign(version, objects);
}

// Creates the table unless another process has done it first.
Result ensureSchema(sqlite3* db) {
  int version = 0;
  if (Result r = readFormat(db, version); !r.ok()) return r;
  if (version == 0) {
    if (Result r = execute(db, "BEGIN IMMEDIATE"); !r.ok()) return r;
    Result r = readFormat(db, version);
    if (r.ok() && version == 0) r = execute(db, createSchema);
    if (r.ok()) r = execute(db, "COMMIT");
    if (!r.ok()) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return r;
    }
    if (version == 0) version = formatVersion;
  }
  if (version != formatVersion)
    return Result{SQLITE_NOTADB, "notify.db: format " + std::to_string(version) +
                                     " is not the one this build knows (" +
                                     std::to_string(formatVersion) + ")"};
  return {};
}

Result prepare(sqlite3* db, const char* sql, Statement& statement) {
  sqlite3_stmt* raw = nullptr;
  int code = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  statement.reset(raw);
  return code == SQLITE_OK ? Result{} : failure(db, code);
}

Result storePath(std::string& path) {
  try {
    path = ce::systemDir() + "/notify.db";
  } catch (const std::exception& e) {
    return Result{SQLITE_CANTOPEN, std::string("notify.db: ") + e.what()};
  }
  return {};
}

Result open(Connection& out) {
  std::string path;
  if (Result r = storePath(path); !r.ok()) return r;
  if (replacedLog) {
    if (ce::fileIdentity(path + "-wal") == replacedLog && !ce::sqlite::removeLeftLog(path))
      return Result{SQLITE_BUSY, "notify.db: replaced while another process still uses the old "
                                 "one; waiting for it to let go"};
    replacedLog.reset();
  }
  Connection c;
  // Both taken before the open: a file replaced in between is seen as replaced at the next
  // operation, never the other way round.
  c.path = path;
  c.names = ce::sqlite::NameWatch(path.substr(0, path.rfind('/')), {"notify.db", "notify.db-wal"});
  c.file = ce::fileIdentity(path);
  sqlite3* raw = nullptr;
  int code = ce::sqlite::openStore(path, &raw);
  c.db.reset(raw);
  if (code != SQLITE_OK) return failure(raw, code);
  sqlite3* db = c.db.get();
  sqlite3_extended_result_codes(db, 0);
  sqlite3_busy_timeout(db, busyTimeoutMs);
  // Read before anything is written: the journal mode is written into the file itself.
  int version = 0;
  if (Result r = readFormat(db, version); !r.ok()) return r;
  if (int code = ce::sqlite::switchToWal(db, storeBusyTimeoutMs); code != SQLITE_OK)
    return failure(db, code);
  if (Result r = execute(db, "PRAGMA synchronous = FULL"); !r.ok()) return r;
  if (Result r = ensureSchema(db); !r.ok()) return r;
  const std::pair<Statement*, const char*> statements[] = {
      {&c.put,
       "INSERT INTO requests(app_key, app, due) VALUES(?1, ?2, ?3) "
       "ON CONFLICT(app_key) DO UPDATE SET app = excluded.app, due = excluded.due"},
      {&c.pending, "SELECT 1 FROM requests WHERE app_key = ?1 AND app = ?2 AND due = ?3"},
      {&c.remove, "DELETE FROM requests WHERE app_key = ?1"},
      {&c.removeExactly, "DELETE FROM requests WHERE app_key = ?1 AND due = ?2"},
      {&c.list, "SELECT app_key, app, due FROM requests WHERE due <= ?1 ORDER BY due, app_key"},
      {&c.earliest, "SELECT min(due) FROM requests"},
  };
  for (const auto& [statement, sql] : statements)
    if (Result r = prepare(db, sql, *statement); !r.ok()) return r;
  // The schema check has read the file, so its log is open by now.
  if (!c.file) c.file = ce::fileIdentity(path);  // made by this open
  c.log = ce::fileIdentity(path + "-wal");
  out = std::move(c);
  return {};
}

// Lets go of a connection whose file or log is no longer the one under the store's name.
void leaveIfReplaced() {
  std::string path;
  if (!connection || !storePath(path).ok()) return;
  if (path == connection->path && !connection->names.changed()) return;
  connection->knownPending.reset();
  if (ce::fileIdentity(path) == connection->file &&
      (!connection->log || ce::fileIdentity(path + "-wal") == connection->log))
    return;
  std::optional<ce::FileIdentity> log = connection->log;
  connection.reset();
  if (log && ce::fileIdentity(path + "-wal") == log) replacedLog = log;
}

// The connection's page cache, given back when idle (ce::addIdleTrim).
void trimConnection() {
  std::unique_lock<std::mutex> lock(connectionMutex, std::try_to_lock);
  if (lock.owns_lock() && connection) sqlite3_db_release_memory(connection->db.get());
}

const bool idleTrimRegistered = (ce::addIdleTrim(&trimConnection), true);

// Runs `body` on the open connection, opening it first when needed. A failed open is not
// kept: the next operation tries again.
template <typename Body>
Result withConnection(Body body) {
  static std::once_flag forkHandler;
  std::call_once(forkHandler,
                 [] { pthread_atfork(nullptr, nullptr, &abandonInheritedConnection); });
  std::lock_guard<std::mutex> lock(connectionMutex);
  leaveIfReplaced();
  if (!connection) {
    Connection opened;
    if (Result r = open(opened); !r.ok()) return r;
    connection = std::move(opened);
  }
  return body(*connection);
}

Result stepToDone(Connection& c, sqlite3_stmt* statement) {
  int code = sqlite3_step(statement);
  return code == SQLITE_DONE ? Result{} : failure(c.db.get(), code);
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

void resetStore() {
  close();
  std::lock_guard<std::mutex> lock(connectionMutex);
  replacedLog.reset();
  busyTimeoutMs = storeBusyTimeoutMs;
}

[[maybe_unused]] const bool resetStoreHooked = (ce::addResetHook(&resetStore), true);

}  // namespace

DWORD win32ErrorOf(const Result& result) {
  switch (result.code & 0xFF) {
    case SQLITE_OK: return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_SHARING_VIOLATION;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_ERROR:
    case SQLITE_SCHEMA: return ERROR_BADDB;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_CONSTRAINT:
    case SQLITE_RANGE:
    case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
    default: return ERROR_CANTWRITE;  // SQLITE_IOERR, SQLITE_FULL, SQLITE_PROTOCOL, ...
  }
}

Result put(const std::string& key, const std::string& app, long long due) {
  return withConnection([&](Connection& c) {
    StatementUse use(c.put.get());
    bindText(*use, 1, key);
    bindText(*use, 2, app);
    sqlite3_bind_int64(*use, 3, atStoreResolution(due));
    return stepToDone(c, *use);
  });
}

Result isPending(const std::string& key, const std::string& app, long long due, bool& pending) {
  pending = false;
  return withConnection([&](Connection& c) {
    auto request = std::make_tuple(key, app, atStoreResolution(due));
    if (c.knownPending == request) {
      pending = true;
      return Result{};
    }
    StatementUse use(c.pending.get());
    bindText(*use, 1, key);
    bindText(*use, 2, app);
    sqlite3_bind_int64(*use, 3, std::get<2>(request));
    int code = sqlite3_step(*use);
    if (code != SQLITE_ROW && code != SQLITE_DONE) return failure(c.db.get(), code);
    pending = code == SQLITE_ROW;
    if (pending) c.knownPending = std::move(request);
    return Result{};
  });
}

Result remove(const std::string& key) {
  return withConnection([&](Connection& c) {
    StatementUse use(c.remove.get());
    bindText(*use, 1, key);
    return stepToDone(c, *use);
  });
}

Result removeExactly(const std::string& key, long long due, bool& removed) {
  removed = false;
  return withConnection([&](Connection& c) {
    StatementUse use(c.removeExactly.get());
    bindText(*use, 1, key);
    sqlite3_bind_int64(*use, 2, due);
    Result r = stepToDone(c, *use);
    removed = r.ok() && sqlite3_changes(c.db.get()) > 0;
    return r;
  });
}

Result list(long long dueAtMost, std::vector<Row>& rows) {
  rows.clear();
  return withConnection([&](Connection& c) {
    StatementUse use(c.list.get());
    sqlite3_bind_int64(*use, 1, dueAtMost);
    int code;
    while ((code = sqlite3_step(*use)) == SQLITE_ROW)
      rows.push_back(Row{columnText(*use, 0), columnText(*use, 1), sqlite3_column_int64(*use, 2)});
    if (code == SQLITE_DONE) return Result{};
    rows.clear();
    return failure(c.db.get(), code);
  });
}

Result earliestDue(long long& due, bool& found) {
  found = false;
  return withConnection([&](Connection& c) {
    StatementUse use(c.earliest.get());
    int code = sqlite3_step(*use);
    if (code != SQLITE_ROW) return failure(c.db.get(), code);
    found = sqlite3_column_type(*use, 0) != SQLITE_NULL;
    if (found) due = sqlite3_column_int64(*use, 0);
    return Result{};
  });
}

Result awaitWriters() {
  return withConnection([&](Connection& c) {
    // Taking the write lock waits (up to the busy timeout) for a writer part way through.
    if (Result r = execute(c.db.get(), "BEGIN IMMEDIATE"); !r.ok()) return r;
    return execute(c.db.get(), "ROLLBACK");
  });
}

void close() {
  std::lock_guard<std::mutex> lock(connectionMutex);
  connection.reset();  // a child of fork() has already let go of its parent's
}

}  // namespace ce::notify::store

namespace ce::testing {

void setRunAtTimeBusyTimeout(int milliseconds) {
  std::lock_guard<std::mutex> lock(ce::notify::store::connectionMutex);
  ce::notify::store::busyTimeoutMs = milliseconds;
  if (ce::notify::store::connection)
    sqlite3_busy_timeout(ce::notify::store::connection->db.get(), milliseconds);
}

}  // namespace ce::testing
