// Which commit of a WAL store its readers see, read from the store's WAL index without a
// system call. Platform-internal.
//
// A read transaction costs two fcntl locks on the index, which for a small value is most of
// the read. The index's header names the last commit made visible (a count of changes, the
// last frame, the log's salts and checksums) and is written at every publish and every reset
// of the log, so two equal headers mean that nothing was published in between. Its layout is
// part of SQLite's file format, which every library version sharing a store must agree on.
// The header is read from the connection's own mapping of the index (xShmMap), so a truncated
// index faults here no sooner than it would in SQLite itself.
#pragma once

#include <sqlite3.h>

#include <array>
#include <optional>

namespace ce::sqlite {

using PublishedHeader = std::array<unsigned char, 48>;

class PublishedState {
 public:
  PublishedState() = default;
  // For a connection whose main database is in WAL mode and open (its index is mapped once
  // it has read): nothing is ever read for any other.
  static PublishedState of(sqlite3* db);

  // The header of the commit readers see now; nothing while a writer is publishing (the two
  // copies differ), or when the index is not available.
  std::optional<PublishedHeader> now() const;

 private:
  const volatile unsigned char* index_ = nullptr;
};

}  // namespace ce::sqlite
