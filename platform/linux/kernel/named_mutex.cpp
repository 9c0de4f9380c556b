// Named mutexes across processes.
//
// The device's named mutex "exists" while any handle of its name is open anywhere. Here the
// first handle a process opens takes a lock kept in the name's lock file in run/
// (mutex.<name>.lock, or a path of parts below mutex.long/ for a name too long for one file
// name: never a cut name, so two names never share a lock); while some process holds that
// lock, every other creation reports ERROR_ALREADY_EXISTS.
//
// The lock is a robust, process-shared mutex in the file's first page, which every process
// maps: the log takes and drops it around every line, and a try and a release of it cost no
// system call, where an flock costs two per line. A process (or thread) that dies holding it
// leaves it to the next taker, which the kernel tells so, so a crashed writer never leaves the
// name stuck. The page is set up once, under an flock of the file, by the first process to
// use it. Mapped, the file is exposed to a truncation as SQLite's own index files are: run/
// holds only the device's runtime state, in its owner's private home.
//
// A handle obtained while another process holds the lock does not hold the lock itself: once
// the creator closes, the name is free again for other processes even if such handles remain.
// The log, the only user, closes those handles at once. The lock belongs to the thread that
// created the process's first handle, as the device's mutex ownership does: every user here
// closes on the creating thread.
//
// The lock file stays open and mapped per name for the life of the process, and handles are
// counted in the process.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/device.h"
#include "platform/linux/kernel/handle_table.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/kernel/private_files.h"

namespace {

// The first page of a lock file.
struct LockPage {
  std::atomic<std::uint64_t> ready;  // lockPageReady once `lock` is set up
  pthread_mutex_t lock;
};
constexpr std::uint64_t lockPageReady = 0x63652d6d75746578;  // "ce-mutex"
constexpr size_t lockPageBytes = 4096;
static_assert(sizeof(LockPage) <= lockPageBytes);

struct NamedMutex {
  int fd = -1;
  LockPage* page = nullptr;
  int handles = 0;
  bool locked = false;
};

// What a handle stands for: empty for an unnamed mutex, which is private to its handle.
struct MutexHandle {
  std::optional<std::wstring> name;
};

ce::kernel::HandleTable<MutexHandle>& handles() {
  static ce::kernel::HandleTable<MutexHandle> open;
  return open;
}

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
  // The parent's locks stay taken: the child only lets go of its view of them.
  for (auto& [name, entry] : table) {
    if (entry.page) munmap(entry.page, lockPageBytes);
    if (entry.fd >= 0) close(entry.fd);
  }
  table.clear();
}

// Takes the lock file's flock, waiting a moment at most: a first user sets the page up in
// microseconds, and a process that keeps the flock (a build that locked this way) must not
// stop the log for good.
bool flockBriefly(int fd) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    usleep(1000);
  }
  return false;
}

// Maps the lock file's first page, setting the lock up when no process has yet; nothing when
// that cannot be done.
LockPage* mapLockPage(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return nullptr;
  if (static_cast<size_t>(status.st_size) < lockPageBytes &&
      ftruncate(fd, static_cast<off_t>(lockPageBytes)) != 0)
    return nullptr;
  void* mapped = mmap(nullptr, lockPageBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* page = static_cast<LockPage*>(mapped);
  if (page->ready.load(std::memory_order_acquire) == lockPageReady) return page;
  // A new file, or one made before locks were kept in it: set up by one process, under the
  // flock, and looked at again once it is held.
  bool ready = false;
  if (flockBriefly(fd)) {
    ready = page->ready.load(std::memory_order_acquire) == lockPageReady;
    if (!ready) {
      pthread_mutexattr_t attributes;
      pthread_mutexattr_init(&attributes);
      pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
      pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
      ready = pthread_mutex_init(&page->lock, &attributes) == 0;
      pthread_mutexattr_destroy(&attributes);
      if (ready) page->ready.store(lockPageReady, std::memory_order_release);
    }
    flock(fd, LOCK_UN);
  }
  if (ready) return page;
  munmap(mapped, lockPageBytes);
  return nullptr;
}

// Whether this process now holds the name's lock. One left by a holder that died is taken
// over.
bool takeLock(LockPage* page) {
  int rc = pthread_mutex_trylock(&page->lock);
  if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(&page->lock);
  return rc == 0;
}

// Any character may appear in a mutex name; the file name keeps to a safe alphabet, and each
// other character becomes %XXXXXX, so two names never share a file.
std::string escapedName(const std::wstring& name) {
  std::string file;
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
  return file;
}

// Room for a name in one file name, well inside the 255 bytes Linux allows.
constexpr size_t kNameRoom = 200;

// Opens (creating) a name's lock file below run/: run/mutex.<name>.lock, or, for a name too
// long for one file name, run/mutex.long/<part>/<part>/.../<last part>.lock with every part
// at most kNameRoom bytes. Whole names, never cut ones: two names never share a lock.
int openLockFile(const std::string& runDir, const std::wstring& name) {
  std::string escaped = escapedName(name);
  if (escaped.size() <= kNameRoom) {
    std::string path = runDir + "/mutex." + escaped + ".lock";
    return ce::kernel::openPrivate(path, O_RDWR | O_CREAT);
  }
  int folder = open((runDir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::string part = "mutex.long";
  for (size_t at = 0; folder >= 0; at += kNameRoom) {
    if (mkdirat(folder, part.c_str(), 0700) != 0 && errno != EEXIST) break;
    int inner = openat(folder, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(folder);
    folder = inner;
    if (folder < 0) break;
    if (escaped.size() - at <= kNameRoom) {
      std::string last = escaped.substr(at) + ".lock";
      int fd = openat(folder, last.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      close(folder);
      return fd;
    }
    part = escaped.substr(at, kNameRoom);
  }
  if (folder >= 0) close(folder);
  return -1;
}

// The name a mutex has in the device's one namespace, or false when Windows would look for
// it in a folder of object names that does not exist (ERROR_PATH_NOT_FOUND): "Local\" and
// "Global\" are the only folders, and both are this device's one session.
bool objectName(const wchar_t* given, std::wstring& name) {
  std::wstring_view text(given);
  static constexpr std::wstring_view folders[] = {L"Local\\", L"Global\\"};
  for (std::wstring_view folder : folders)
    if (text.substr(0, folder.size()) == folder) {
      text.remove_prefix(folder.size());
      break;
    }
  if (text.find(L'\\') != std::wstring_view::npos) return false;
  name = text;
  return true;
}

}  // namespace

HANDLE CreateMutexW(LPVOID, BOOL, LPCWSTR givenName) {
  long long forced;
  if (ce::failPointHit("CreateMutexW", forced)) return reinterpret_cast<HANDLE>(forced);
  // The device treats "" as a name like any other; only a null name makes a private mutex.
  if (!givenName) {
    SetLastError(ERROR_SUCCESS);
    return handles().add(std::make_unique<MutexHandle>());
  }
  std::wstring name;
  if (!objectName(givenName, name)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(tableMutex);
  forgetInheritedTable();
  NamedMutex& entry = table[name];
  if (entry.handles > 0) {
    ++entry.handles;
    SetLastError(ERROR_ALREADY_EXISTS);
    return handles().add(std::make_unique<MutexHandle>(MutexHandle{name}));
  }
  if (!entry.page) {
    if (entry.fd < 0) {
      std::string runDir;
      try {
        runDir = ce::runDir();
      } catch (...) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
      }
      entry.fd = openLockFile(runDir, name);
    }
    if (entry.fd >= 0) entry.page = mapLockPage(entry.fd);
    if (!entry.page) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  entry.handles = 1;
  entry.locked = takeLock(entry.page);
  SetLastError(entry.locked ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
  return handles().add(std::make_unique<MutexHandle>(MutexHandle{name}));
}

namespace {

// CloseHandle's part for mutexes: the last handle of a name in this process frees the name.
bool closeMutexHandle(HANDLE object) {
  std::unique_ptr<MutexHandle> handle = handles().remove(object);
  if (!handle) return false;
  if (handle->name) {
    std::lock_guard<std::mutex> lock(tableMutex);
    forgetInheritedTable();
    auto it = table.find(*handle->name);
    if (it != table.end() && it->second.handles > 0 && --it->second.handles == 0 &&
        it->second.locked) {
      pthread_mutex_unlock(&it->second.page->lock);
      it->second.locked = false;
    }
  }
  return true;
}

[[maybe_unused]] const bool closerAdded = (ce::addHandleCloser(&closeMutexHandle), true);

}  // namespace

namespace ce::kernel {
void resetNamedMutexes() {
  handles().clear();
  std::lock_guard<std::mutex> lock(tableMutex);
  if (!tableInherited.exchange(false))
    for (auto& [name, entry] : table) {
      if (entry.locked) pthread_mutex_unlock(&entry.page->lock);
      if (entry.page) munmap(entry.page, lockPageBytes);
      if (entry.fd >= 0) close(entry.fd);
    }
  table.clear();
}
}  // namespace ce::kernel
