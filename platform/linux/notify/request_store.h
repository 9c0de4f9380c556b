// The run-at-time table in <home>/system/notify.db. Platform-internal: callers go through
// CeRunAppAtTime and the ce::notify library in platform/notify.h.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/kernel/wintypes.h"

namespace ce::notify::store {

// A row as stored: the program's key (its device path in upper case), the device path as
// requested (UTF-8, file-name bytes kept) and the local due time in FILETIME ticks.
struct Row {
  std::string key;
  std::string app;
  long long due;
};

// The outcome of one store operation: SQLite's result code and its message.
struct Result {
  int code = 0;
  std::string message;
  bool ok() const { return code == 0; }
};

// The Win32 error that CeRunAppAtTime reports for a failed store operation.
DWORD win32ErrorOf(const Result& result);

// Adds or replaces the request of `key`, due at `due` (cut to the whole second while that is
// still to come): one commit.
Result put(const std::string& key, const std::string& app, long long due);
// Whether this request (`due` as put() would store it) is the one pending for `key`: a read,
// no commit.
Result isPending(const std::string& key, const std::string& app, long long due, bool& pending);
// Removes the request of `key`, if any: one commit.
Result remove(const std::string& key);
// Removes the request of `key` only while it is still due at `due`; `removed` says whether it
// was.
Result removeExactly(const std::string& key, long long due, bool& removed);
// Requests due at `dueAtMost` or before, earliest first.
Result list(long long dueAtMost, std::vector<Row>& rows);
// The earliest due time; `found` is false when nothing is pending.
Result earliestDue(long long& due, bool& found);
// Returns once no other connection is part way through a write: what any writer has
// committed is then visible. Writes nothing.
Result awaitWriters();

// Closes the process's connection (the next operation opens it again).
void close();

}  // namespace ce::notify::store
