// A mark of the registry's commits, shared by every process of the device. Platform-internal.
//
// A walk by index reads entries ahead in batches and answers the next steps from memory; it
// may do so only while nothing has changed. Asking SQLite whether anything changed costs a
// read transaction (two fcntl locks on the WAL index), more than reading one small file. So
// every writer of the registry writes a new mark into system/registry.db-commits after each
// commit, and a reader compares the mark with the one it saw before. A change made by some
// other SQLite program (the sqlite3 shell) moves no mark: a walk sees it at its next batch.
//
// The file is read and written through a held descriptor, never mapped: a mapping turns a
// truncation of the file by anyone into SIGBUS at the next access, where a read of a
// truncated file only comes back short.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/kernel/unique_fd.h"

namespace ce::registry {

class CommitCounter {
 public:
  CommitCounter() = default;
  CommitCounter(CommitCounter&&) noexcept = default;
  CommitCounter& operator=(CommitCounter&&) noexcept = default;
  CommitCounter(const CommitCounter&) = delete;
  CommitCounter& operator=(const CommitCounter&) = delete;

  // The mark beside the store `database`. One whose file cannot be opened (a store in a folder
  // this process may not write, a folder or a FIFO in its place) is not available, and never
  // fails the caller.
  static CommitCounter beside(const std::string& database);

  bool available() const { return fd_.valid(); }
  // The mark now; 0 for a file cut short or unreadable, which the next commit writes again.
  std::uint64_t read() const;
  // After a commit: tells every reader that what it read ahead may be stale.
  void bump();

 private:
  ce::kernel::UniqueFd fd_;
};

}  // namespace ce::registry
