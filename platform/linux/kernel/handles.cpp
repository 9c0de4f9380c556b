// CloseHandle over every family's handles, and the kernel's handle numbering.
#include <array>
#include <atomic>
#include <cstdlib>

#include "platform/linux/kernel/handle_table.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/platform_state.h"

namespace {

// Far above the registry's key handles, which count up from 0x1000 one open at a time.
constexpr UINT_PTR firstKernelHandle = static_cast<UINT_PTR>(1) << 40;

std::atomic<UINT_PTR> nextKernelHandle{firstKernelHandle};

// Families register while the program starts; every log line closes a handle, so the list
// is read without a lock or a copy.
struct Closers {
  std::array<std::atomic<ce::HandleCloser>, 8> all{};
  std::atomic<size_t> count{0};
};

Closers& closers() {
  static Closers registered;
  return registered;
}

// The pseudo handles of the current process (-1) and thread (-2): closing one does nothing.
bool isPseudoHandle(HANDLE handle) {
  auto value = reinterpret_cast<LONG_PTR>(handle);
  return value == -1 || value == -2;
}

}  // namespace

namespace ce {

void addHandleCloser(HandleCloser closer) {
  Closers& c = closers();
  size_t slot = c.count.load(std::memory_order_relaxed);
  if (slot >= c.all.size()) std::abort();  // a new family: make room above
  c.all[slot].store(closer, std::memory_order_relaxed);
  c.count.store(slot + 1, std::memory_order_release);
}

namespace kernel {
UINT_PTR newHandleValue() { return nextKernelHandle.fetch_add(4, std::memory_order_relaxed); }
}  // namespace kernel

}  // namespace ce

BOOL CloseHandle(HANDLE handle) {
  if (isPseudoHandle(handle)) return TRUE;
  if (handle) {
    Closers& c = closers();
    size_t count = c.count.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i)
      if (c.all[i].load(std::memory_order_relaxed)(handle)) return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
