// The process's inotify descriptor: non-blocking, closed on exec, closed once. Platform-internal.
#pragma once

namespace ce::shell {

class InotifyDescriptor {
 public:
  // valid() is false when the kernel refused (errno tells why).
  InotifyDescriptor();
  ~InotifyDescriptor();
  InotifyDescriptor(InotifyDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  InotifyDescriptor& operator=(InotifyDescriptor&& other) noexcept;
  InotifyDescriptor(const InotifyDescriptor&) = delete;
  InotifyDescriptor& operator=(const InotifyDescriptor&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace ce::shell
