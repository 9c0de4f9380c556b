// Messages between processes: the receiving socket of a process with windows, and the
// connections a poster keeps to the sockets of others.
//
// Why datagrams, connected per target, with a bounded wait. A datagram keeps each message
// whole and in order from one sender, and the kernel tells us who sent it (SO_PASSCRED), so
// the receiver can refuse other users without a handshake. The kernel queues only a few
// datagrams per receiving socket (net.unix.max_dgram_qlen, 10 by default); the receiver moves
// them into its own queue every time its loop runs, and a sender that finds the socket full
// waits in poll for room. That wait only works on a connected socket (the kernel then tells
// the sender when the receiver's queue drains), hence one connection per target process. A
// receiver that stops reading must not hang its posters for ever, nor may a message vanish
// unnoticed: after kDefaultPostTimeoutMs the post fails with ERROR_TIMEOUT.
#include "platform/user/process_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/device.h"
#include "platform/kernel/kernel.h"
#include "platform/user/pointer_messages.h"
#include "platform/user/window_files.h"

namespace ce::user {

namespace {

// Fills `address` for `path`. A path longer than sun_path can hold is reached through
// /proc/self/fd of the open run/ folder, which `folder` keeps open until the call is made.
bool addressOf(const std::string& path, sockaddr_un& address, socklen_t& length,
               UniqueFd& folder) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::string reachable = path;
  if (path.size() >= sizeof address.sun_path) {
    size_t slash = path.rfind('/');
    folder.reset(open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return false;
    reachable = "/proc/self/fd/" + std::to_string(folder.get()) + path.substr(slash);
    if (reachable.size() >= sizeof address.sun_path) return false;
  }
  std::memcpy(address.sun_path, reachable.c_str(), reachable.size() + 1);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + reachable.size() + 1);
  return true;
}

DWORD errorOf(int error) {
  return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE;
}

bool wellFormed(const WindowMessageDatagram& d) {
  return d.magic == kDatagramMagic && d.version == kDatagramVersion && d.flags == 0;
}

struct Connections {
  std::mutex mutex;
  LivenessCache windows;
  std::map<int, UniqueFd> sockets;  // by pid of the receiving process
  int timeoutMs = kDefaultPostTimeoutMs;
};

Connections* connectionsInstance = nullptr;

// A forked child starts with no connections; the parent's stay the parent's.
void lockForFork() { connectionsInstance->mutex.lock(); }
void unlockInParent() { connectionsInstance->mutex.unlock(); }
void startOverInChild() {
  connectionsInstance->mutex.unlock();
  connectionsInstance->windows.clear();
  connectionsInstance->sockets.clear();
}

Connections& connections() {
  static Connections* instance = [] {
    connectionsInstance = new Connections;  // never freed: posts may run during exit
    pthread_atfork(lockForFork, unlockInParent, startOverInChild);
    return connectionsInstance;
  }();
  return *instance;
}

UniqueFd connectTo(int pid) {
  UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return fd;
  sockaddr_un address;
  socklen_t length = 0;
  UniqueFd folder;
  std::string path;
  try {
    path = socketPathOf(pid);
  } catch (...) {
    return UniqueFd();
  }
  if (!addressOf(path, address, length, folder) ||
      connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0)
    fd.reset();
  return fd;
}

// Result of one attempt on a connection that turned out to lead to a closed socket.
constexpr DWORD kReconnect = 0xFFFFFFFF;

DWORD sendWithin(int fd, const WindowMessageDatagram& d,
                 std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    ssize_t n = send(fd, &d, sizeof d, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(sizeof d)) return ERROR_SUCCESS;
    if (n >= 0) return ERROR_GEN_FAILURE;  // a datagram goes whole or not at all
    switch (errno) {
      case EINTR:
        continue;
      case EAGAIN: {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ERROR_TIMEOUT;
        pollfd p{fd, POLLOUT, 0};
        // Round up so the last fraction of a millisecond is waited rather than spun.
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
        continue;
      }
      case ECONNREFUSED:
      case ECONNRESET:
      case ENOTCONN:
      case EPIPE:
        return kReconnect;
      case ENOBUFS:
      case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
      default:
        return ERROR_INVALID_WINDOW_HANDLE;
    }
  }
}

}  // namespace

std::string socketPathOf(int pid) { return ce::runDir() + "/socket." + std::to_string(pid); }

bool ReceiveSocket::open(int pid) {
  close();
  std::string path;
  try {
    path = socketPathOf(pid);
  } catch (...) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  UniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  int on = 1;
  if (!fd.valid() || setsockopt(fd.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0) {
    SetLastError(errorOf(errno));
    return false;
  }
  sockaddr_un address;
  socklen_t length = 0;
  UniqueFd folder;
  if (!addressOf(path, address, length, folder)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // Only a dead process with our pid can have left this name behind.
  unlink(path.c_str());
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
    SetLastError(errorOf(errno));
    return false;
  }
  fd_ = std::move(fd);
  path_ = std::move(path);
  return true;
}

size_t ReceiveSocket::receive(size_t limit, uid_t user,
                              const std::function<void(const WindowMessageDatagram&)>& deliver) {
  constexpr unsigned kBatch = 16;
  WindowMessageDatagram buffers[kBatch];
  iovec vectors[kBatch];
  mmsghdr headers[kBatch];
  alignas(cmsghdr) char controls[kBatch][CMSG_SPACE(sizeof(ucred))];
  size_t total = 0;
  while (fd_.valid() && total < limit) {
    unsigned want = static_cast<unsigned>(std::min<size_t>(kBatch, limit - total));
    for (unsigned i = 0; i < want; ++i) {
      vectors[i] = iovec{&buffers[i], sizeof buffers[i]};
      std::memset(&headers[i], 0, sizeof headers[i]);
      headers[i].msg_hdr.msg_iov = &vectors[i];
      headers[i].msg_hdr.msg_iovlen = 1;
      headers[i].msg_hdr.msg_control = controls[i];
      headers[i].msg_hdr.msg_controllen = sizeof controls[i];
    }
    int n = recvmmsg(fd_.get(), headers, want, MSG_DONTWAIT, nullptr);
    if (n <= 0) break;
    for (int i = 0; i < n; ++i) {
      const msghdr& h = headers[i].msg_hdr;
      const ucred* sender = nullptr;
      for (cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS)
          sender = reinterpret_cast<const ucred*>(CMSG_DATA(c));
      int pid = sender ? sender->pid : 0;
      if (!sender || sender->uid != user) {
        std::fprintf(stderr,
                     "user: refused a window message datagram from uid %ld (pid %d): not the "
                     "device's user\n",
                     sender ? static_cast<long>(sender->uid) : -1L, pid);
      } else if (headers[i].msg_len != sizeof(WindowMessageDatagram) ||
                 (h.msg_flags & MSG_TRUNC) || !wellFormed(buffers[i])) {
        std::fprintf(stderr,
                     "user: dropped a malformed window message datagram of %u bytes from pid "
                     "%d\n",
                     headers[i].msg_len, pid);
      } else if (carriesPointer(buffers[i].message)) {
        std::fprintf(stderr,
                     "user: refused window message 0x%04x from pid %d: its parameters would be "
                     "read as addresses in this process\n",
                     buffers[i].message, pid);
      } else {
        deliver(buffers[i]);
      }
    }
    total += static_cast<size_t>(n);
    if (static_cast<unsigned>(n) < want) break;
  }
  return total;
}

void ReceiveSocket::close(bool keepFile) {
  if (!path_.empty() && !keepFile) unlink(path_.c_str());
  path_.clear();
  fd_.reset();
}

DWORD sendToOwner(const WindowMessageDatagram& datagram) {
  Connections& c = connections();
  std::lock_guard<std::mutex> lock(c.mutex);
  if (!c.windows.alive(datagram.hwnd)) return ERROR_INVALID_WINDOW_HANDLE;
  const int pid = static_cast<int>(datagram.hwnd >> 32);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(c.timeoutMs);
  // Bounded like the window cache: one descriptor per process we ever posted to.
  constexpr size_t kMaxConnections = 64;
  // The second attempt covers a connection that led to an earlier process with this pid.
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto it = c.sockets.find(pid);
    if (it == c.sockets.end()) {
      UniqueFd fd = connectTo(pid);
      if (!fd.valid()) return ERROR_INVALID_WINDOW_HANDLE;
      if (c.sockets.size() >= kMaxConnections) c.sockets.clear();
      it = c.sockets.emplace(pid, std::move(fd)).first;
    }
    DWORD result = sendWithin(it->second.get(), datagram, deadline);
    if (result != kReconnect) return result;
    c.sockets.erase(it);
  }
  return ERROR_INVALID_WINDOW_HANDLE;
}

void forgetConnections() {
  Connections& c = connections();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.windows.clear();
  c.sockets.clear();
  c.timeoutMs = kDefaultPostTimeoutMs;
}

void setPostTimeoutMs(int milliseconds) {
  Connections& c = connections();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.timeoutMs = std::max(0, milliseconds);
}

}  // namespace ce::user
