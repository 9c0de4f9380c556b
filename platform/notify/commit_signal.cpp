#include "platform/notify/commit_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/device.h"

namespace ce::notify {

void signalCommit() noexcept {
  int saved = errno;
  try {
    std::string path = ce::systemDir() + "/" + commitMarkerName;
    // Closing a descriptor opened for writing is what the watcher sees (IN_CLOSE_WRITE); no
    // byte needs to be written, and none is, so the marker never grows.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) ::close(fd);
  } catch (...) {
  }
  errno = saved;
}

}  // namespace ce::notify
