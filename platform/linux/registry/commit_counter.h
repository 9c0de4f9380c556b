// A count of the registry's commits, shared by every process of the device. Platform-internal.
//
// A walk by index reads entries ahead in batches and answers the next steps from memory; it
// may do so only while nothing has changed. Asking SQLite whether anything changed costs a
// read transaction (two fcntl locks on the WAL index), as much as reading the entry itself. So
// every writer of the registry adds one to this counter, kept in a small shared mapping
// (system/registry.db-commits), after each commit, and a reader compares two numbers instead.
// A change made by some other SQLite program (the sqlite3 shell) does not count: a walk sees
// it at its next batch.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/kernel/unique_fd.h"

namespace ce::registry {

class CommitCounter {
 public:
  CommitCounter() = default;
  CommitCounter(CommitCounter&& other) noexcept;
  CommitCounter& operator=(CommitCounter&& other) noexcept;
  CommitCounter(const CommitCounter&) = delete;
  CommitCounter& operator=(const CommitCounter&) = delete;
  ~CommitCounter();

  // The counter beside the store `database`. One that cannot be opened or mapped (a store in
  // a folder this process may not write) is not available, and never fails the caller.
  static CommitCounter beside(const std::string& database);

  // False too once the file under the mapping was truncated (said once on standard error).
  bool available() const;
  std::uint64_t read() const;
  // After a commit: tells every reader that what it read ahead may be stale.
  void bump();

 struct Slot;

 private:
  ce::kernel::UniqueFd fd_;
  std::uint64_t* count_ = nullptr;
  Slot* slot_ = nullptr;
  mutable bool lossReported_ = false;
};

}  // namespace ce::registry
