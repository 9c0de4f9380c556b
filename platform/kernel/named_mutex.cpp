// Named mutexes across processes.
//
// The device's named mutex "exists" while any handle of its name is open anywhere. Here the
// first handle a process opens takes an exclusive flock on run/mutex.<name>.lock; while some
// process holds that lock, every other creation reports ERROR_ALREADY_EXISTS. A process that
// dies drops its lock with its descriptors, so a crashed writer never leaves the name stuck.
//
// A handle obtained while another process holds the lock does not hold the lock itself: once
// the creator closes, the name is free again for other processes even if such handles remain.
// The log, the only user, closes those handles at once.
//
// The lock file stays open per name for the life of the process, and handles are counted in
// the process, so a create/close pair costs two flock calls and no open.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "platform/device.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_state.h"
#include "platform/kernel/platform_state.h"
#include "platform/kernel/private_files.h"

namespace {

struct NamedMutex {
  int fd = -1;
  int handles = 0;
  bool locked = false;
};

struct MutexHandle {
  unsigned magic = 0x4D555458;  // "MUTX": tells our handles from junk
  std::wstring name;            // empty: unnamed
};

std::mutex tableMutex;
std::map<std::wstring, NamedMutex> table;
// Set in a child forked without exec: the table it holds is its parent's. A fork handler
// rather than a getpid per call, which is a system call here and the log pays it per line.
std::atomic<bool> tableInherited{false};

void markTableInherited() { tableInherited = true; }

// A child forked without exec inherits the parent's lock files, whose flocks it would share
// with the parent: it starts a table of its own. Closing the inherited descriptors leaves the
// parent's locks in place (the parent still holds its own descriptors). Caller holds
// tableMutex.
void forgetInheritedTable() {
  // Registered before the first entry exists, so no child can inherit one unnoticed.
  static const bool hooked = pthread_atfork(nullptr, nullptr, &markTableInherited) == 0;
  (void)hooked;
  if (!tableInherited.exchange(false)) return;
  for (auto& [name, entry] : table)
    if (entry.fd >= 0) close(entry.fd);
  table.clear();
}

std::string lockFileName(const std::wstring& name) {
  // Any character may appear in a mutex name; keep the file name to a safe alphabet.
  std::string file = "mutex.";
  static const char hex[] = "0123456789abcdef";
  for (wchar_t c : name) {
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
        c == L'.' || c == L'-' || c == L'_') {
      file += static_cast<char>(c);
    } else {
      file += '%';
      for (int shift = 20; shift >= 0; shift -= 4) file += hex[(c >> shift) & 0xF];
    }
  }
  return file.substr(0, 200) + ".lock";
}

}  // namespace

HANDLE CreateMutexW(LPVOID, BOOL, LPCWSTR name) {
  long long forced;
  if (ce::failPointHit("CreateMutexW", forced)) return reinterpret_cast<HANDLE>(forced);
  auto* handle = new MutexHandle;
  if (!name || !*name) {
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  handle->name = name;
  std::lock_guard<std::mutex> lock(tableMutex);
  forgetInheritedTable();
  NamedMutex& entry = table[handle->name];
  if (entry.handles > 0) {
    ++entry.handles;
    SetLastError(ERROR_ALREADY_EXISTS);
    return handle;
  }
  if (entry.fd < 0) {
    std::string path;
    try {
      path = ce::runDir() + "/" + lockFileName(handle->name);
    } catch (...) {
      delete handle;
      SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    entry.fd = ce::kernel::openPrivate(path, O_RDWR | O_CREAT);
    if (entry.fd < 0) {
      delete handle;
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  entry.handles = 1;
  entry.locked = flock(entry.fd, LOCK_EX | LOCK_NB) == 0;
  SetLastError(entry.locked ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handle;
}

BOOL CloseHandle(HANDLE object) {
  auto* handle = static_cast<MutexHandle*>(object);
  if (!handle || object == INVALID_HANDLE_VALUE || handle->magic != 0x4D555458) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!handle->name.empty()) {
    std::lock_guard<std::mutex> lock(tableMutex);
    forgetInheritedTable();
    auto it = table.find(handle->name);
    if (it != table.end() && it->second.handles > 0 && --it->second.handles == 0 &&
        it->second.locked) {
      flock(it->second.fd, LOCK_UN);
      it->second.locked = false;
    }
  }
  handle->magic = 0;
  delete handle;
  return TRUE;
}

namespace ce::kernel {
void resetNamedMutexes() {
  std::lock_guard<std::mutex> lock(tableMutex);
  if (!tableInherited.exchange(false))
    for (auto& [name, entry] : table)
      if (entry.fd >= 0) close(entry.fd);
  table.clear();
}
}  // namespace ce::kernel
