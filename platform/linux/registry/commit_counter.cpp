// The shared commit counter: one 64-bit number in a mapped file.
//
// Why a SIGBUS handler. A mapped file that someone truncates (a careless script, a cleaner)
// turns the next access to the mapping into SIGBUS, which would kill the listener in the
// middle of recording a change. Checking the file's size before each access would cost a
// system call per commit; instead the handler puts a private zero page in place of the lost
// one, so the access goes on, and marks the counter lost: from then on this process asks the
// store itself whether anything changed, as it does when there is no counter at all.
#include "platform/linux/registry/commit_counter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <utility>

namespace ce::registry {

// The pages of this process's mapped counters, where the handler can find them: a fixed
// table, since a signal handler may neither allocate nor lock.
struct CommitCounter::Slot {
  std::atomic<void*> page{nullptr};
  std::atomic<bool> lost{false};
};

namespace {

constexpr int kSlots = 16;
CommitCounter::Slot slots[kSlots];
struct sigaction previousHandler;
std::uintptr_t pageSize = 0;  // set before the handler is installed
std::once_flag handlerInstalled;

void passOn(int signal, siginfo_t* info, void* context) {
  if ((previousHandler.sa_flags & SA_SIGINFO) && previousHandler.sa_sigaction) {
    previousHandler.sa_sigaction(signal, info, context);
  } else if (previousHandler.sa_handler != SIG_DFL && previousHandler.sa_handler != SIG_IGN) {
    previousHandler.sa_handler(signal);
  } else {
    // Returning re-runs the access, which now ends the process as it would have.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void onBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (CommitCounter::Slot& slot : slots) {
    auto page = reinterpret_cast<std::uintptr_t>(slot.page.load(std::memory_order_acquire));
    if (page == 0 || address < page || address >= page + pageSize) continue;
    if (mmap(reinterpret_cast<void*>(page), pageSize, PROT_READ | PROT_WRITE,
             MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED)
      break;
    slot.lost.store(true, std::memory_order_release);
    return;
  }
  passOn(signal, info, context);
}

void installHandler() {
  pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &previousHandler);
}

CommitCounter::Slot* takeSlot(void* page) {
  std::call_once(handlerInstalled, installHandler);
  for (CommitCounter::Slot& slot : slots) {
    void* free = nullptr;
    if (slot.page.compare_exchange_strong(free, page, std::memory_order_acq_rel)) {
      slot.lost.store(false, std::memory_order_release);
      return &slot;
    }
  }
  return nullptr;
}

void release(CommitCounter::Slot* slot, std::uint64_t* count) {
  if (!count) return;
  munmap(count, sizeof *count);
  if (slot) slot->page.store(nullptr, std::memory_order_release);
}

}  // namespace

CommitCounter::CommitCounter(CommitCounter&& other) noexcept
    : fd_(std::move(other.fd_)),
      count_(std::exchange(other.count_, nullptr)),
      slot_(std::exchange(other.slot_, nullptr)),
      lossReported_(other.lossReported_) {}

CommitCounter& CommitCounter::operator=(CommitCounter&& other) noexcept {
  if (this != &other) {
    release(slot_, count_);
    fd_ = std::move(other.fd_);
    count_ = std::exchange(other.count_, nullptr);
    slot_ = std::exchange(other.slot_, nullptr);
    lossReported_ = other.lossReported_;
  }
  return *this;
}

CommitCounter::~CommitCounter() { release(slot_, count_); }

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
  // Without a slot the handler could not save it: no counter rather than one that can kill.
  CommitCounter::Slot* slot = takeSlot(mapped);
  if (!slot) {
    munmap(mapped, sizeof(std::uint64_t));
    return counter;
  }
  counter.fd_ = std::move(fd);
  counter.count_ = static_cast<std::uint64_t*>(mapped);
  counter.slot_ = slot;
  return counter;
}

bool CommitCounter::available() const {
  if (!count_) return false;
  if (!slot_->lost.load(std::memory_order_acquire)) return true;
  if (!lossReported_) {
    lossReported_ = true;
    std::fprintf(stderr,
                 "registry: ERROR: the commit count file was truncated while in use; this process "
                 "now asks the store itself for changes\n");
    std::fflush(stderr);
  }
  return false;
}

std::uint64_t CommitCounter::read() const {
  return std::atomic_ref<std::uint64_t>(*count_).load(std::memory_order_acquire);
}

void CommitCounter::bump() {
  if (count_) std::atomic_ref<std::uint64_t>(*count_).fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace ce::registry
