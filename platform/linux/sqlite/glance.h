// A look into one of the device's stores that leaves no trace: for a tool that only reads
// (shell completion), not for the device's own calls. Platform-internal.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace ce::sqlite {

struct CloseConnection {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using GlanceConnection = std::unique_ptr<sqlite3, CloseConnection>;

// A read-only connection to the store at `path`, or null when it is missing, a link, not a
// regular file, or another user's, or when SQLite cannot read it. Nothing is created,
// written, upgraded or locked against the device's writers.
GlanceConnection openToGlance(const std::string& path);

}  // namespace ce::sqlite
