// Open handles of one kind of kernel object. Platform-internal.
//
// A handle is a number looked up in a table, never an address: a stale, foreign or made-up
// value is simply not found (ERROR_INVALID_HANDLE), and closing one twice is harmless. The
// kernel's objects share one numbering, far above the registry's key handles, so a value
// names at most one object of at most one family.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/linux/kernel/wintypes.h"

namespace ce::kernel {

// The next kernel handle value; never 0, never reused, a multiple of 4 as on the device.
UINT_PTR newHandleValue();

template <typename Object>
class HandleTable {
 public:
  HANDLE add(std::unique_ptr<Object> object) {
    UINT_PTR value = newHandleValue();
    std::lock_guard<std::mutex> lock(mutex_);
    open_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
  }

  // The object behind an open handle, or null. Valid until the handle is removed; each
  // object is used by the one thread that holds its handle.
  Object* find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(reinterpret_cast<UINT_PTR>(handle));
    return it == open_.end() ? nullptr : it->second.get();
  }

  // Takes the object out of the table; null when the handle is not open.
  std::unique_ptr<Object> remove(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(reinterpret_cast<UINT_PTR>(handle));
    if (it == open_.end()) return nullptr;
    std::unique_ptr<Object> object = std::move(it->second);
    open_.erase(it);
    return object;
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.clear();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<UINT_PTR, std::unique_ptr<Object>> open_;
};

}  // namespace ce::kernel
