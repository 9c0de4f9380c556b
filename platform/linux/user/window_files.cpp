// The window table in run/.
//
// Each window is the file run/window.<handle in hex>, written to a temporary name, locked with
// an exclusive flock and renamed into place, so a reader never sees a half-written or unlocked
// file. The owner keeps the lock for the window's life and removes the file when the window
// goes. Whether a window lives is therefore "is its file locked": a shared, non-blocking flock
// attempt that fails means someone holds it. A process that dies, however it dies, drops its
// locks with its descriptors, and a later process that gets the same pid writes new files
// (new inodes), so neither a SIGKILLed owner nor a reused pid makes a dead window look alive.
// Readers never remove files: a stale one is skipped, and removed by the next process that
// has its pid (see removeLeftoversOf), which is the only process that can tell for sure that
// no live window stands behind that name.
#include "platform/linux/user/window_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/device.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/linux/kernel/utf8.h"
#include "platform/linux/user/run_folder.h"

namespace ce::user {

namespace {

constexpr char kFilePrefix[] = "window.";
constexpr char kHeader[] = "ce-window 1";
// Larger files are not ours: a record holds two names of at most a few hundred characters.
constexpr size_t kMaxRecordBytes = 64 * 1024;

DWORD fileErrorOf(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
    case EDQUOT:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// Names keep any character: '%', controls and what UTF-8 cannot hold become %XXXXXXXX.
std::string encodeText(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    auto code = static_cast<uint32_t>(c);
    bool plain = code >= 0x20 && code != '%' && code != 0x7F && code <= 0x10FFFF &&
                 (code < 0xD800 || code > 0xDFFF);
    if (plain) {
      escaped += c;
    } else {
      wchar_t hex[16];
      std::swprintf(hex, 16, L"%%%08" PRIX32, code);
      escaped += hex;
    }
  }
  std::string bytes(escaped.size() * 4, '\0');
  long n = utf8::fromWide(escaped.data(), escaped.size(), bytes.data(), bytes.size(),
                          utf8::InvalidChars::replace);
  bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return bytes;
}

bool decodeText(const std::string& bytes, std::wstring& text) {
  std::wstring wide(bytes.size(), L'\0');
  long n = utf8::toWide(bytes.data(), bytes.size(), wide.data(), wide.size(),
                        utf8::InvalidBytes::fail);
  if (n < 0) return false;
  wide.resize(static_cast<size_t>(n));
  text.clear();
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] != L'%') {
      text += wide[i];
      continue;
    }
    if (i + 8 >= wide.size()) return false;
    uint32_t code = 0;
    for (size_t k = 1; k <= 8; ++k) {
      wchar_t h = wide[i + k];
      int digit = (h >= L'0' && h <= L'9')   ? h - L'0'
                  : (h >= L'A' && h <= L'F') ? h - L'A' + 10
                                             : -1;
      if (digit < 0) return false;
      code = code << 4 | static_cast<uint32_t>(digit);
    }
    text += static_cast<wchar_t>(code);
    i += 8;
  }
  return true;
}

std::string formatRecord(const WindowRecord& r) {
  char head[160];
  std::snprintf(head, sizeof head, "%s\nhwnd %016" PRIx64 "\npid %d\norder %" PRIu64 "\n",
                kHeader, r.hwnd, r.pid, r.order);
  return std::string(head) + "class " + encodeText(r.className) + "\ntitle " +
         encodeText(r.title) + "\n";
}

bool parseRecord(const std::string& content, WindowRecord& r) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(content.substr(start, nl - start));
  if (lines.size() != 6 || lines[0] != kHeader) return false;
  static const char* const keys[] = {"hwnd ", "pid ", "order ", "class ", "title "};
  for (size_t i = 0; i < 5; ++i) {
    if (lines[i + 1].rfind(keys[i], 0) != 0) return false;
    lines[i + 1].erase(0, std::strlen(keys[i]));
  }
  auto number = [](const std::string& text, int base, uint64_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoull(text.c_str(), &end, base);
    return errno == 0 && *end == '\0';
  };
  uint64_t pid = 0;
  if (!number(lines[1], 16, r.hwnd) || !number(lines[2], 10, pid) ||
      !number(lines[3], 10, r.order) || pid > 0x7FFFFFFF)
    return false;
  r.pid = static_cast<int>(pid);
  return decodeText(lines[4], r.className) && decodeText(lines[5], r.title);
}

// A shared lock we can take means nobody holds the exclusive one: the owner is gone.
bool heldByOwner(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

// Opens a table file for reading. Only regular files count: anything else in run/ under a
// window's name (a FIFO would block a plain open) is not ours.
UniqueFd openRecord(int folder, const char* name) {
  UniqueFd fd(openat(folder, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat info;
  if (fd.valid() && (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))) fd.reset();
  return fd;
}

bool readAll(int fd, std::string& content) {
  char buffer[4096];
  content.clear();
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > kMaxRecordBytes) return false;
  }
}

bool writeAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string windowFilePath(uint64_t hwnd) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%016" PRIx64, kFilePrefix, hwnd);
  return ce::runDir() + "/" + name;
}

PublishedWindow& PublishedWindow::operator=(PublishedWindow&& other) noexcept {
  if (this != &other) {
    withdraw();
    path_ = std::move(other.path_);
    lock_ = std::move(other.lock_);
    other.path_.clear();
  }
  return *this;
}

bool PublishedWindow::publish(const WindowRecord& record) {
  withdraw();
  std::string path, temporary;
  try {
    path = windowFilePath(record.hwnd);
  } catch (...) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  temporary = path;
  temporary.insert(temporary.rfind('/') + 1, "tmp.");
  UniqueFd fd(ce::kernel::openPrivate(temporary, O_WRONLY | O_CREAT | O_TRUNC));
  if (!fd.valid()) {
    SetLastError(fileErrorOf(errno));
    return false;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || !writeAll(fd.get(), formatRecord(record)) ||
      rename(temporary.c_str(), path.c_str()) != 0) {
    int error = errno;
    unlink(temporary.c_str());
    SetLastError(fileErrorOf(error));
    return false;
  }
  path_ = std::move(path);
  lock_ = std::move(fd);
  return true;
}

void PublishedWindow::withdraw() {
  // Unlink before unlocking: a reader that opens the name always finds a locked file.
  if (!path_.empty()) unlink(path_.c_str());
  abandon();
}

void PublishedWindow::abandon() {
  path_.clear();
  lock_.reset();
}

std::vector<WindowRecord> liveWindows() {
  std::vector<WindowRecord> found;
  FolderStream stream = openRunFolder();
  if (!stream) return found;
  while (dirent* entry = readdir(stream.get())) {
    if (std::strncmp(entry->d_name, kFilePrefix, sizeof kFilePrefix - 1) != 0) continue;
    UniqueFd fd = openRecord(dirfd(stream.get()), entry->d_name);
    if (!fd.valid() || !heldByOwner(fd.get())) continue;
    std::string content;
    WindowRecord record;
    if (readAll(fd.get(), content) && parseRecord(content, record)) found.push_back(record);
  }
  std::sort(found.begin(), found.end(), [](const WindowRecord& a, const WindowRecord& b) {
    return a.order != b.order ? a.order < b.order : a.hwnd < b.hwnd;
  });
  return found;
}

// The window's record, or an invalid descriptor when it has none (or no device home).
UniqueFd openWindowRecord(uint64_t hwnd) {
  std::string path;
  try {
    path = windowFilePath(hwnd);
  } catch (...) {
    return UniqueFd();
  }
  return openRecord(AT_FDCWD, path.c_str());
}

bool windowIsLive(uint64_t hwnd) {
  UniqueFd fd = openWindowRecord(hwnd);
  return fd.valid() && heldByOwner(fd.get());
}

void removeLeftoversOf(int pid) {
  char prefix[32], tmpPrefix[40];
  std::snprintf(prefix, sizeof prefix, "%s%08x", kFilePrefix, static_cast<unsigned>(pid));
  std::snprintf(tmpPrefix, sizeof tmpPrefix, "tmp.%s", prefix);
  FolderStream stream = openRunFolder();
  if (!stream) return;
  while (dirent* entry = readdir(stream.get())) {
    if (std::strncmp(entry->d_name, prefix, std::strlen(prefix)) == 0 ||
        std::strncmp(entry->d_name, tmpPrefix, std::strlen(tmpPrefix)) == 0)
      unlinkat(dirfd(stream.get()), entry->d_name, 0);
  }
}

bool processExists(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

void removeDeadWindowFiles() {
  FolderStream stream = openRunFolder();
  if (!stream) return;
  const size_t prefixLength = sizeof kFilePrefix - 1;
  const std::string temporaryPrefix = std::string("tmp.") + kFilePrefix;
  while (dirent* entry = readdir(stream.get())) {
    std::string name = entry->d_name;
    bool temporary = name.rfind(temporaryPrefix, 0) == 0;
    if (!temporary && name.compare(0, prefixLength, kFilePrefix) != 0) continue;
    std::string hex = name.substr(temporary ? temporaryPrefix.size() : prefixLength);
    char* end = nullptr;
    uint64_t hwnd = std::strtoull(hex.c_str(), &end, 16);
    if (hex.empty() || *end != '\0') continue;
    int pid = static_cast<int>(hwnd >> 32);
    if (!processExists(pid)) {
      unlinkat(dirfd(stream.get()), name.c_str(), 0);
      continue;
    }
    // The pid lives on, perhaps in another process. A published window's file is locked for
    // the window's whole life, so one nobody holds is a leftover; taking its lock and seeing
    // the name still on that file keeps a new owner's file, renamed into place meanwhile, safe.
    // A temporary file is unlocked for a moment while it is written: left to its pid's next
    // process (removeLeftoversOf).
    if (temporary) continue;
    UniqueFd fd = openRecord(dirfd(stream.get()), name.c_str());
    struct stat opened, named;
    if (fd.valid() && flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && fstat(fd.get(), &opened) == 0 &&
        fstatat(dirfd(stream.get()), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        opened.st_ino == named.st_ino && opened.st_dev == named.st_dev)
      unlinkat(dirfd(stream.get()), name.c_str(), 0);
  }
}

bool LivenessCache::alive(uint64_t hwnd) {
  // Bounded: a poster that talks to many short-lived windows would otherwise hoard files.
  constexpr size_t kMaxCachedWindows = 256;
  auto it = files_.find(hwnd);
  if (it == files_.end()) {
    UniqueFd fd = openWindowRecord(hwnd);
    if (!fd.valid()) return false;
    if (files_.size() >= kMaxCachedWindows) files_.clear();
    it = files_.emplace(hwnd, std::move(fd)).first;
  }
  if (heldByOwner(it->second.get())) return true;
  files_.erase(it);
  return false;
}

}  // namespace ce::user
