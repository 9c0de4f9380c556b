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
#include "platform/shell/change_notifier.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/device.h"
#include "platform/shell/event_kinds.h"
#include "platform/shell/notification_records.h"

namespace ce::shell {

namespace {

constexpr size_t kLargestEvent = sizeof(inotify_event) + NAME_MAX + 1;

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
  return pairing_.msUntilDue(Clock::now());
}

void ChangeNotifier::drainLocked() {
  readAvailable(Clock::now());
  if (pairing_.empty()) return;
  pairing_.take(Clock::now(), ready_);
  for (Change& change : ready_) deliver(change);
  ready_.clear();
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
    return;
  }
  if (endsWatch(change.mask)) {
    endWatch(change);
    return;
  }
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
  // The kernel drops its watch itself when the folder is deleted or unmounted; a folder moved
  // elsewhere would go on reporting under its old path, so that watch is dropped here.
  if ((change.mask & IN_MOVE_SELF) && firstOn(change.wd)) inotify_rm_watch(inotify_.fd(), change.wd);
  std::erase_if(registrations_,
                [&](const Registration& registration) { return registration.wd == change.wd; });
  std::erase_if(kernelFlags_, [&](const auto& entry) { return entry.first == change.wd; });
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
  const Registration* any = nullptr;
  for (const Registration& registration : registrations_) {
    if (registration.wd != wd) continue;
    needed |= inotifyFlagsFor(registration.eventMask);
    any = &registration;
  }
  auto entry = std::find_if(kernelFlags_.begin(), kernelFlags_.end(),
                            [&](const auto& flags) { return flags.first == wd; });
  if (!any) {
    inotify_rm_watch(inotify_.fd(), wd);
    if (entry != kernelFlags_.end()) kernelFlags_.erase(entry);
    return;
  }
  if (entry != kernelFlags_.end() && entry->second == needed) return;
  int again = inotify_add_watch(inotify_.fd(), any->hostPath.c_str(), needed);
  // The folder was replaced under its path since: leave the old watch as it is.
  if (again >= 0 && again != wd) {
    if (!firstOn(again)) inotify_rm_watch(inotify_.fd(), again);
    return;
  }
  if (again < 0) return;
  if (entry != kernelFlags_.end())
    entry->second = needed;
  else
    kernelFlags_.emplace_back(wd, needed);
}

DWORD ChangeNotifier::watch(HWND window, const std::string& hostPath, DWORD eventMask) {
  std::lock_guard<std::mutex> lock(mutex_);
  // What happened before this call happened under the registrations of that time.
  drainLocked();
  const uint32_t flags = inotifyFlagsFor(eventMask);
  // IN_MASK_ADD keeps what other windows on the same folder need; refit trims it after.
  int wd = inotify_add_watch(inotify_.fd(), hostPath.c_str(), flags | IN_MASK_ADD);
  if (wd < 0) return errorOfWatch(errno);
  auto entry = std::find_if(kernelFlags_.begin(), kernelFlags_.end(),
                            [&](const auto& known) { return known.first == wd; });
  if (entry != kernelFlags_.end())
    entry->second |= flags;
  else
    kernelFlags_.emplace_back(wd, flags);

  int previousWd = -1;
  auto old = std::find_if(registrations_.begin(), registrations_.end(),
                          [&](const Registration& known) { return known.window == window; });
  if (old != registrations_.end()) {
    previousWd = old->wd;
    registrations_.erase(old);
  }
  registrations_.push_back(Registration{window, wd, eventMask, hostPath, ce::devicePathOf(hostPath)});
  refit(wd);
  if (previousWd >= 0 && previousWd != wd) refit(previousWd);
  return ERROR_SUCCESS;
}

bool ChangeNotifier::unwatch(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  drainLocked();
  auto found = std::find_if(registrations_.begin(), registrations_.end(),
                            [&](const Registration& known) { return known.window == window; });
  if (found == registrations_.end()) return false;
  int wd = found->wd;
  registrations_.erase(found);
  refit(wd);
  return true;
}

size_t ChangeNotifier::registrationCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_.size();
}

}  // namespace ce::shell
