// The inotify back end of the shell notifications.
//
// One inotify instance serves every registration of the process, so the events of all folders
// come out of one queue in the order they happened, and a rename between two watched folders
// arrives as two halves with one cookie. Windows that watch the same folder share the kernel's
// watch on it (the kernel hands out one descriptor per folder and instance); its flags are
// the union of what those windows asked for, and each window is given only the kinds in its
// own mask.
//
// There is no thread here: the message loop polls the descriptor and calls drain(), which
// reads the kernel's queue empty every time so that it stays short however slowly the windows
// handle their messages. The kernel's queue holds 16,384 events by default
// (fs.inotify.max_queued_events); should it overflow all the same, every window is told to
// look at its whole folder again (SHCNE_UPDATEDIR).
//
// A watched folder that is deleted or moved away, by itself or with a folder above it (each of
// those is watched for its own end), does not end its registrations: each window is told
// with SHCNE_RMDIR on the folder's own path, whatever its mask, and the nearest folder
// above it that still exists is watched for creations and moves in. As soon as a folder is
// back under the path it is watched again and each window is told with SHCNE_MKDIR on that
// path: files may have come with it that no event will report.
#include "platform/linux/shell/change_notifier.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/linux/device.h"
#include "platform/linux/shell/event_kinds.h"
#include "platform/linux/shell/notification_records.h"

namespace ce::shell {

namespace {

constexpr size_t kLargestEvent = sizeof(inotify_event) + NAME_MAX + 1;
// The changes of one read kept room for between reads: a handful, as a quiet folder gives.
constexpr size_t keptReadyRoom = 64;

// What a folder above a gone one is watched with: anything that may bring the path back.
constexpr uint32_t kWaitFlags =
    IN_ONLYDIR | IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
// What a folder above a watched one is watched with: its own end only.
constexpr uint32_t kGuardFlags = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;

bool holds(const std::vector<std::pair<int, std::string>>& guards, int wd) {
  return std::any_of(guards.begin(), guards.end(), [&](const auto& g) { return g.first == wd; });
}

// The folder above `path`, never above the file system root; "" for the root itself.
std::string parentWithin(const std::string& path, size_t rootLength) {
  if (path.size() <= rootLength) return "";
  size_t slash = path.rfind('/');
  return path.substr(0, slash == std::string::npos || slash < rootLength ? rootLength : slash);
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD errorOfWatch(int error) {
  switch (error) {
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOMEM:
    case ENOSPC: return ERROR_NOT_ENOUGH_MEMORY;  // out of watches (fs.inotify.max_user_watches)
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace

ChangeNotifier::ChangeNotifier(Post post) : post_(post) {}

void ChangeNotifier::drain() {
  std::lock_guard<std::mutex> lock(mutex_);
  drainLocked();
}

int ChangeNotifier::pendingTimeoutMs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Clock::time_point now = Clock::now();
  int ms = pairing_.msUntilDue(now);
  if (lookAgainAt_) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*lookAgainAt_ - now).count();
    int lookAgain = static_cast<int>(std::max<decltype(left)>(left, 0));
    ms = ms < 0 ? lookAgain : std::min(ms, lookAgain);
  }
  return ms;
}

void ChangeNotifier::drainLocked() {
  readAvailable(Clock::now());
  if (!pairing_.empty()) {
    pairing_.take(Clock::now(), ready_);
    for (Change& change : ready_) deliver(change);
    ready_.clear();
    // One read of a burst fills it with thousands; kept, that room would stay with the idle
    // listener (640 KiB after 10,000 files). A burst's next reads make it again at once.
    if (ready_.capacity() > keptReadyRoom) ready_.shrink_to_fit();
  }
  if (lookAgainAt_ && Clock::now() >= *lookAgainAt_) {
    lookAgainAt_.reset();
    lookForGoneFolders();
  }
}

void ChangeNotifier::readAvailable(Clock::time_point now) {
  for (;;) {
    ssize_t got = ::read(inotify_.fd(), buffer_.data(), buffer_.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;  // EAGAIN: the queue is empty
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event header;
      std::memcpy(&header, buffer_.data() + at, sizeof header);
      const char* name = buffer_.data() + at + sizeof header;
      // The name is padded with NULs up to header.len.
      RawEvent event{header.wd, header.mask, header.cookie,
                     std::string(name, strnlen(name, header.len))};
      pairing_.add(std::move(event), now);
      at += static_cast<ssize_t>(sizeof header + header.len);
    }
    // A read that left room for another event took everything that was queued: spare the
    // call that would only say so.
    if (static_cast<size_t>(got) + kLargestEvent <= buffer_.size()) return;
  }
}

void ChangeNotifier::deliver(Change& change) {
  if (change.mask & IN_Q_OVERFLOW) {
    // Events were lost: every window must look at its whole folder, whatever it asked for.
    for (const Registration& registration : registrations_)
      post(registration.window, SHCNE_UPDATEDIR, registration.devicePath, nullptr);
    // A gone folder's return may be among the events lost.
    lookForGoneFolders();
    return;
  }
  if (endsWatch(change.mask)) {
    endWatch(change);
    return;
  }
  // Something appeared where a gone folder waits: it may be the folder, or a step towards it.
  if (waitedOn(change.wd) || waitedOn(change.toWd)) lookForGoneFolders();
  if (change.toWd >= 0) {
    const bool fromWatched = firstOn(change.wd) != nullptr;
    const bool toWatched = firstOn(change.toWd) != nullptr;
    if (fromWatched && toWatched) {
      deliverMove(change, eventKindFor(change.mask));
      return;
    }
    // One side stopped being watched since: for the other it is a move in or out.
    if (fromWatched) {
      change.mask &= ~IN_MOVED_TO;
    } else {
      change.mask &= ~IN_MOVED_FROM;
      change.wd = change.toWd;
      change.name = std::move(change.toName);
    }
    change.toWd = -1;
  }
  DWORD kind = eventKindFor(change.mask);
  if (!kind) return;
  std::wstring path;
  for (const Registration& registration : registrations_) {
    if (registration.wd != change.wd || !(registration.eventMask & kind)) continue;
    if (path.empty()) path = pathIn(change.wd, change.name);
    post(registration.window, static_cast<LONG>(kind), path, nullptr);
  }
}

void ChangeNotifier::deliverMove(const Change& change, DWORD kind) {
  // Every window watching either side hears of it once, with both paths.
  std::wstring oldPath = pathIn(change.wd, change.name);
  std::wstring newPath = pathIn(change.toWd, change.toName);
  for (const Registration& registration : registrations_) {
    if (registration.wd != change.wd && registration.wd != change.toWd) continue;
    if (registration.eventMask & kind)
      post(registration.window, static_cast<LONG>(kind), oldPath, &newPath);
  }
}

void ChangeNotifier::endWatch(const Change& change) {
  const int wd = change.wd;
  if (!usedBy(wd)) return;  // the end of a watch given up already
  // The kernel drops its watch itself when the folder is deleted or unmounted; a folder moved
  // elsewhere would go on reporting under its old path, so that watch is dropped here.
  if (change.mask & IN_MOVE_SELF) inotify_rm_watch(inotify_.fd(), wd);
  std::erase_if(kernelFlags_, [&](const auto& entry) { return entry.first == wd; });
  // A folder goes with the folder above it that was moved away.
  std::vector<bool> carried(registrations_.size());
  for (size_t i = 0; i < registrations_.size(); ++i) {
    Registration& registration = registrations_[i];
    if (registration.waitWd == wd) registration.waitWd = -1;
    carried[i] = registration.wd >= 0 &&
                 (registration.wd == wd || holds(registration.guards, wd));
    std::erase_if(registration.guards, [&](const auto& g) { return g.first == wd; });
  }
  std::vector<int> released;
  for (size_t i = 0; i < registrations_.size(); ++i) {
    if (!carried[i]) continue;
    Registration& registration = registrations_[i];
    if (registration.wd != wd) released.push_back(registration.wd);
    registration.wd = -1;
    unguard(registration);
    post(registration.window, SHCNE_RMDIR, registration.devicePath, nullptr);
  }
  for (int stale : released) refit(stale);
  lookForGoneFolders();
}

void ChangeNotifier::lookForGoneFolders() {
  for (Registration& registration : registrations_)
    if (registration.wd < 0 && watchAgain(registration))
      post(registration.window, SHCNE_MKDIR, registration.devicePath, nullptr);
}

bool ChangeNotifier::watchAgain(Registration& registration) {
  const int fd = inotify_.fd();
  // Each round either watches the folder or waits in a folder above it; a round is repeated
  // only when the step below that folder appeared before the wait began, so its event was
  // never queued.
  for (int round = 0; round < 8; ++round) {
    const uint32_t flags = inotifyFlagsFor(registration.eventMask);
    int wd = inotify_add_watch(fd, registration.hostPath.c_str(), flags | IN_MASK_ADD);
    if (wd >= 0) {
      registration.wd = wd;
      addKernelFlags(wd, flags);
      stopWaiting(registration);
      refit(wd);
      guard(registration);
      return true;
    }
    std::string below = registration.hostPath;
    std::string above = parentWithin(below, registration.rootLength);
    int waitWd = -1;
    for (; !above.empty(); below = above, above = parentWithin(above, registration.rootLength)) {
      waitWd = inotify_add_watch(fd, above.c_str(), kWaitFlags | IN_MASK_ADD);
      if (waitWd >= 0) break;
    }
    if (waitWd < 0) {
      stopWaiting(registration);
      if (!lookAgainAt_) lookAgainAt_ = Clock::now() + kLookAgain;
      return false;
    }
    addKernelFlags(waitWd, kWaitFlags);
    if (registration.waitWd != waitWd) {
      stopWaiting(registration);
      registration.waitWd = waitWd;
      registration.waitPath = above;
    }
    refit(waitWd);
    if (!isFolder(below)) return false;
  }
  return false;
}

void ChangeNotifier::stopWaiting(Registration& registration) {
  int wd = registration.waitWd;
  registration.waitWd = -1;
  registration.waitPath.clear();
  if (wd >= 0) refit(wd);
}

void ChangeNotifier::guard(Registration& registration) {
  for (std::string above = parentWithin(registration.hostPath, registration.rootLength);
       above.size() > registration.rootLength;
       above = parentWithin(above, registration.rootLength)) {
    int wd = inotify_add_watch(inotify_.fd(), above.c_str(), kGuardFlags | IN_MASK_ADD);
    if (wd < 0) continue;
    addKernelFlags(wd, kGuardFlags);
    registration.guards.emplace_back(wd, above);
    refit(wd);
  }
}

void ChangeNotifier::unguard(Registration& registration) {
  auto guards = std::move(registration.guards);
  registration.guards.clear();
  for (const auto& [wd, path] : guards) refit(wd);
}

bool ChangeNotifier::guardedBy(int wd) const {
  for (const Registration& registration : registrations_)
    if (holds(registration.guards, wd)) return true;
  return false;
}

void ChangeNotifier::addKernelFlags(int wd, uint32_t flags) {
  auto entry = std::find_if(kernelFlags_.begin(), kernelFlags_.end(),
                            [&](const auto& known) { return known.first == wd; });
  if (entry != kernelFlags_.end())
    entry->second |= flags;
  else
    kernelFlags_.emplace_back(wd, flags);
}

bool ChangeNotifier::usedBy(int wd) const {
  return wd >= 0 && (firstOn(wd) || waitedOn(wd) || guardedBy(wd));
}

bool ChangeNotifier::waitedOn(int wd) const {
  if (wd < 0) return false;
  for (const Registration& registration : registrations_)
    if (registration.waitWd == wd) return true;
  return false;
}

void ChangeNotifier::post(HWND window, LONG eventId, const std::wstring& path,
                          const std::wstring* newPath) {
  FILECHANGENOTIFY* record = newRecord(eventId, path, newPath);
  if (!post_(window, record)) releaseRecord(record);
}

const ChangeNotifier::Registration* ChangeNotifier::firstOn(int wd) const {
  for (const Registration& registration : registrations_)
    if (registration.wd == wd) return &registration;
  return nullptr;
}

std::wstring ChangeNotifier::pathIn(int wd, const std::string& name) const {
  // A folder reached through two paths (a link) is named by its first registration's.
  std::wstring path = firstOn(wd)->devicePath;
  if (path.empty() || path.back() != L'\\') path += L'\\';
  path += ce::widenFileName(name);
  return path;
}

void ChangeNotifier::refit(int wd) {
  uint32_t needed = 0;
  const std::string* path = nullptr;
  for (const Registration& registration : registrations_) {
    if (registration.wd == wd) {
      needed |= inotifyFlagsFor(registration.eventMask);
      path = &registration.hostPath;
    } else if (registration.waitWd == wd) {
      needed |= kWaitFlags;
      path = &registration.waitPath;
    }
    for (const auto& [guardWd, guardPath] : registration.guards)
      if (guardWd == wd) {
        needed |= kGuardFlags;
        path = &guardPath;
      }
  }
  auto entry = std::find_if(kernelFlags_.begin(), kernelFlags_.end(),
                            [&](const auto& flags) { return flags.first == wd; });
  if (!path) {
    inotify_rm_watch(inotify_.fd(), wd);
    if (entry != kernelFlags_.end()) kernelFlags_.erase(entry);
    return;
  }
  if (entry != kernelFlags_.end() && entry->second == needed) return;
  int again = inotify_add_watch(inotify_.fd(), path->c_str(), needed);
  // The folder was replaced under its path since: leave the old watch as it is.
  if (again >= 0 && again != wd) {
    if (!usedBy(again)) inotify_rm_watch(inotify_.fd(), again);
    return;
  }
  if (again < 0) return;
  if (entry != kernelFlags_.end())
    entry->second = needed;
  else
    kernelFlags_.emplace_back(wd, needed);
}

DWORD ChangeNotifier::watch(HWND window, const std::string& hostPath, size_t rootLength,
                            DWORD eventMask) {
  std::lock_guard<std::mutex> lock(mutex_);
  // What happened before this call happened under the registrations of that time.
  drainLocked();
  const uint32_t flags = inotifyFlagsFor(eventMask);
  // IN_MASK_ADD keeps what other windows on the same folder need; refit trims it after.
  int wd = inotify_add_watch(inotify_.fd(), hostPath.c_str(), flags | IN_MASK_ADD);
  if (wd < 0) return errorOfWatch(errno);
  addKernelFlags(wd, flags);

  std::vector<int> previous;
  auto old = std::find_if(registrations_.begin(), registrations_.end(),
                          [&](const Registration& known) { return known.window == window; });
  if (old != registrations_.end()) {
    previous = {old->wd, old->waitWd};
    for (const auto& [guardWd, guardPath] : old->guards) previous.push_back(guardWd);
    registrations_.erase(old);
  }
  registrations_.push_back(Registration{window, wd, eventMask, hostPath,
                                        ce::devicePathOf(hostPath), rootLength, -1, {}, {}});
  refit(wd);
  guard(registrations_.back());
  for (int stale : previous)
    if (stale >= 0) refit(stale);
  return ERROR_SUCCESS;
}

bool ChangeNotifier::unwatch(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  drainLocked();
  auto found = std::find_if(registrations_.begin(), registrations_.end(),
                            [&](const Registration& known) { return known.window == window; });
  if (found == registrations_.end()) return false;
  std::vector<int> released = {found->wd, found->waitWd};
  for (const auto& [guardWd, guardPath] : found->guards) released.push_back(guardWd);
  registrations_.erase(found);
  for (int stale : released)
    if (stale >= 0) refit(stale);
  return true;
}

size_t ChangeNotifier::registrationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_.size();
}

}  // namespace ce::shell
