// A slim reader/writer lock held exclusively for a scope. Not std::mutex: the Windows side
// also builds with mingw-w64's win32 thread model, which has none. Platform-internal.
#pragma once

#include "platform/win32/windows.h"

namespace ce::win32 {

class Exclusive {
 public:
  explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace ce::win32
