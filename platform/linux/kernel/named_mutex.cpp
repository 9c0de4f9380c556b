// Named mutexes across processes.
//
// The device's named mutex "exists" while any handle of its name is open anywhere. Here the
// first handle a process opens takes an exclusive flock on the name's lock file in run/
// (mutex.<name>.lock, or a path of parts below mutex.long/ for a name too long for one file
// name: never a cut name, so two names never share a lock); while some process holds that
// lock, every other creation reports ERROR_ALREADY_EXISTS. A process that
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
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

struct NamedMutex {
  int fd = -1;
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
  for (auto& [name, entry] : table)
    if (entry.fd >= 0) close(entry.fd);
  table.clear();
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
  if (entry.fd < 0) {
    std::string runDir;
    try {
      runDir = ce::runDir();
    } catch (...) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    entry.fd = openLockFile(runDir, name);
    if (entry.fd < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
  }
  entry.handles = 1;
  entry.locked = flock(entry.fd, LOCK_EX | LOCK_NB) == 0;
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
      flock(it->second.fd, LOCK_UN);
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
    for (auto& [name, entry] : table)
      if (entry.fd >= 0) close(entry.fd);
  table.clear();
}
}  // namespace ce::kernel
