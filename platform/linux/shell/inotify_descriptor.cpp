// Opening and closing the inotify descriptor.
#include "platform/linux/shell/inotify_descriptor.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace ce::shell {

InotifyDescriptor::InotifyDescriptor() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

// close is never retried: on Linux the descriptor is gone even when it reports EINTR.
InotifyDescriptor::~InotifyDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

InotifyDescriptor& InotifyDescriptor::operator=(InotifyDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

}  // namespace ce::shell
