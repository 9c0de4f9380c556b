#include "platform/linux/sqlite/name_watch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ce::sqlite {

NameWatch::NameWatch(const std::string& folder, std::vector<std::string> names, Sees sees)
    : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), names_(std::move(names)) {
  const uint32_t events = (sees == Sees::writesAndNames ? IN_MODIFY : 0u) | IN_CREATE |
                          IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                          IN_MOVE_SELF | IN_ONLYDIR;
  if (fd_.valid() && inotify_add_watch(fd_.get(), folder.c_str(), events) < 0) fd_.reset();
}

bool NameWatch::changed() {
  if (!fd_.valid() || lost_) return true;
  bool changed = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t n = read(fd_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // EAGAIN: nothing (more) queued. Anything else: the watch cannot be trusted.
      if (n < 0 && errno != EAGAIN) lost_ = true;
      return changed || lost_;
    }
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        if (!(event->mask & IN_Q_OVERFLOW)) lost_ = true;
        changed = true;
        continue;
      }
      if (event->len > 0 &&
          std::find(names_.begin(), names_.end(), std::string(event->name)) != names_.end())
        changed = true;
    }
    // Room was left for another event of the longest name: the queue is empty, and a second
    // read would only say so.
    if (static_cast<size_t>(n) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer)
      return changed;
  }
}

}  // namespace ce::sqlite
