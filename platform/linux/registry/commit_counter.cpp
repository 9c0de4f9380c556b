// The shared commit mark: one 64-bit number at the start of a small file.
//
// Why marks rather than a count. Adding one to a number in a file takes a read and a write
// that two processes committing at once could interleave, both writing the same count; a
// reader that had seen that count already would then miss the second commit. So each commit
// writes a mark no commit wrote before (this process's random start plus its own count), and
// a reader only asks whether the mark is the one it saw. An 8-byte write at offset 0 of a
// regular file is never seen half done by an 8-byte read there (both go through the page
// under its lock), and even a torn mark would differ from the one a reader holds.
#include "platform/linux/registry/commit_counter.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace ce::registry {

namespace {

// This process's marks: a random start drawn on first use and again in every child forked
// without exec, so that a child's marks never repeat its parent's.
std::atomic<std::uint64_t> nextMark{0};
std::once_flag forkHandlerAdded;

std::uint64_t randomStart() {
  std::uint64_t start = 0;
  ssize_t n;
  do n = getrandom(&start, sizeof start, 0);
  while (n < 0 && errno == EINTR);
  if (n != static_cast<ssize_t>(sizeof start))
    start = static_cast<std::uint64_t>(getpid()) << 32 ^ static_cast<std::uint64_t>(time(nullptr));
  return start;
}

void startMarksAfresh() { nextMark.store(randomStart(), std::memory_order_relaxed); }

std::uint64_t newMark() {
  std::call_once(forkHandlerAdded, [] {
    startMarksAfresh();
    pthread_atfork(nullptr, nullptr, &startMarksAfresh);
  });
  std::uint64_t mark;
  do mark = nextMark.fetch_add(1, std::memory_order_relaxed) + 1;
  while (mark == 0);  // 0 is what a file cut short reads as
  return mark;
}

}  // namespace

CommitCounter CommitCounter::beside(const std::string& database) {
  CommitCounter counter;
  std::string path = database + "-commits";
  // O_NONBLOCK: a FIFO planted here is refused below rather than waited on.
  ce::kernel::UniqueFd fd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!fd.valid()) return counter;
  struct stat status {};
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return counter;
  counter.fd_ = std::move(fd);
  return counter;
}

std::uint64_t CommitCounter::read() const {
  std::uint64_t mark = 0;
  ssize_t n;
  do n = ::pread(fd_.get(), &mark, sizeof mark, 0);
  while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof mark) ? mark : 0;
}

void CommitCounter::bump() {
  if (!fd_.valid()) return;
  std::uint64_t mark = newMark();
  ssize_t n;
  do n = ::pwrite(fd_.get(), &mark, sizeof mark, 0);
  while (n < 0 && errno == EINTR);
}

}  // namespace ce::registry
