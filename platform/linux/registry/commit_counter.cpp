// The shared commit counter: one 64-bit number in a mapped file.
#include "platform/linux/registry/commit_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <utility>

namespace ce::registry {

CommitCounter::CommitCounter(CommitCounter&& other) noexcept
    : fd_(std::move(other.fd_)), count_(std::exchange(other.count_, nullptr)) {}

CommitCounter& CommitCounter::operator=(CommitCounter&& other) noexcept {
  if (this != &other) {
    if (count_) munmap(count_, sizeof *count_);
    fd_ = std::move(other.fd_);
    count_ = std::exchange(other.count_, nullptr);
  }
  return *this;
}

CommitCounter::~CommitCounter() {
  if (count_) munmap(count_, sizeof *count_);
}

CommitCounter CommitCounter::beside(const std::string& database) {
  CommitCounter counter;
  std::string path = database + "-commits";
  ce::kernel::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return counter;
  struct stat status {};
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return counter;
  // A new file is all zeros once it has its size: a count that starts at 0.
  if (status.st_size < static_cast<off_t>(sizeof(std::uint64_t)) &&
      ftruncate(fd.get(), sizeof(std::uint64_t)) != 0)
    return counter;
  void* mapped = mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED,
                      fd.get(), 0);
  if (mapped == MAP_FAILED) return counter;
  counter.fd_ = std::move(fd);
  counter.count_ = static_cast<std::uint64_t*>(mapped);
  return counter;
}

std::uint64_t CommitCounter::read() const {
  return std::atomic_ref<std::uint64_t>(*count_).load(std::memory_order_acquire);
}

void CommitCounter::bump() {
  if (count_) std::atomic_ref<std::uint64_t>(*count_).fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace ce::registry
