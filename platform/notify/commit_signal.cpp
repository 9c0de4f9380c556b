#include "platform/notify/commit_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/device.h"
#include "platform/kernel/private_files.h"

namespace ce::notify {

void signalCommit() noexcept {
  int saved = errno;
  try {
    std::string path = ce::systemDir() + "/" + commitMarkerName;
    // Closing a descriptor opened for writing is what the watcher sees (IN_CLOSE_WRITE); no
    // byte needs to be written, and none is, so the marker never grows.
    int fd = ce::kernel::openPrivate(path, O_WRONLY | O_CREAT);
    if (fd >= 0) ::close(fd);
  } catch (...) {
  }
  errno = saved;
}

}  // namespace ce::notify
