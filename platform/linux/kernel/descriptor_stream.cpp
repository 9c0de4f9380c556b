// fdopen asks the kernel for the descriptor's flags (fcntl F_GETFL) to check them against the
// mode, flags that our open has just set to match it; the log opens a stream for every line,
// so the stream is made over the descriptor directly (fopencookie) and costs no system call.
#include "platform/linux/kernel/descriptor_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ce::kernel {
namespace {

int descriptorOf(void* cookie) { return static_cast<int>(reinterpret_cast<intptr_t>(cookie)); }

ssize_t readDescriptor(void* cookie, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(descriptorOf(cookie), buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// All of it or an error: stdio takes a short count as a failed write.
ssize_t writeDescriptor(void* cookie, const char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(descriptorOf(cookie), buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

int seekDescriptor(void* cookie, off64_t* offset, int whence) {
  off64_t at = ::lseek64(descriptorOf(cookie), *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int closeDescriptor(void* cookie) { return ::close(descriptorOf(cookie)); }

}  // namespace

FILE* streamOverDescriptor(int fd, const char* mode) {
  cookie_io_functions_t functions{&readDescriptor, &writeDescriptor, &seekDescriptor,
                                  &closeDescriptor};
  FILE* stream = fopencookie(reinterpret_cast<void*>(static_cast<intptr_t>(fd)), mode, functions);
  if (!stream) {
    int error = errno;
    ::close(fd);
    errno = error;
  }
  return stream;
}

}  // namespace ce::kernel
