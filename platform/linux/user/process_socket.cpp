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
#include "platform/linux/user/process_socket.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>
#include <mutex>

#include "platform/linux/device.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/user/pointer_messages.h"
#include "platform/linux/user/run_folder.h"
#include "platform/linux/user/window_files.h"

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

DWORD socketErrorOf(int error) {
  return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE;
}

bool wellFormed(const WindowMessageDatagram& d, size_t descriptors) {
  if (d.magic != kDatagramMagic || d.version != kDatagramVersion) return false;
  if (d.flags == 0) return descriptors == 0;
  return d.flags == kQueryState && descriptors == 1 && d.message == 0 && d.wParam == 0 &&
         d.lParam == 0;
}

// Answers one state query on the descriptor that came with it.
void answerQuery(int reply, const std::function<std::optional<std::string>()>& state) {
  std::optional<std::string> text = state ? state() : std::nullopt;
  if (text) {
    if (text->size() > kMaxStateBytes) text->resize(kMaxStateBytes);
    // Never waits: a querier that is gone, or does not read, costs nothing but its answer.
    (void)!send(reply, text->data(), text->size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
}

struct Connections {
  std::mutex mutex;
  LivenessCache windows;
  std::map<int, UniqueFd> sockets;  // by pid of the receiving process
  int timeoutMs = kDefaultPostTimeoutMs;
};

Connections* connectionsInstance = nullptr;

// A forked child starts with no connections; the parent's stay the parent's.
void lockConnectionsForFork() { connectionsInstance->mutex.lock(); }
void unlockConnectionsInParent() { connectionsInstance->mutex.unlock(); }
void startConnectionsOverInChild() {
  connectionsInstance->mutex.unlock();
  connectionsInstance->windows.clear();
  connectionsInstance->sockets.clear();
}

Connections& connections() {
  static Connections* instance = [] {
    connectionsInstance = new Connections;  // never freed: posts may run during exit
    pthread_atfork(lockConnectionsForFork, unlockConnectionsInParent, startConnectionsOverInChild);
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
    SetLastError(socketErrorOf(errno));
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
  // The socket's file takes the socket's mode less the umask: 0600 from the start, so that no
  // other user may ever connect, whatever the umask says.
  // bind still takes the umask away from that mode: under 0277 the owner itself could not
  // connect, so the file gets 0600 once more, from a mode that was never looser.
  if (fchmod(fd.get(), 0600) != 0 ||
      bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      chmod(path.c_str(), 0600) != 0) {
    SetLastError(socketErrorOf(errno));
    return false;
  }
  fd_ = std::move(fd);
  path_ = std::move(path);
  return true;
}

size_t ReceiveSocket::receive(size_t limit, uid_t user,
                              const std::function<void(const WindowMessageDatagram&)>& deliver,
                              const std::function<std::optional<std::string>()>& state) {
  constexpr unsigned kBatch = 16;
  WindowMessageDatagram buffers[kBatch];
  iovec vectors[kBatch];
  mmsghdr headers[kBatch];
  // Room for one descriptor: a datagram that carries more loses them to the kernel, which
  // closes what does not fit.
  alignas(cmsghdr) char controls[kBatch][CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(sizeof(int))];
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
      std::vector<UniqueFd> descriptors;  // every one is closed, answered or not
      for (cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS)
          sender = reinterpret_cast<const ucred*>(CMSG_DATA(c));
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
          for (size_t k = 0; k < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++k) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + k * sizeof(int), sizeof fd);
            descriptors.emplace_back(fd);
          }
      }
      int pid = sender ? sender->pid : 0;
      if (!sender || sender->uid != user) {
        if (complaints_.allow())
          std::fprintf(stderr,
                     "user: refused a window message datagram from uid %ld (pid %d): not the "
                     "device's user\n",
                     sender ? static_cast<long>(sender->uid) : -1L, pid);
      } else if (headers[i].msg_len != sizeof(WindowMessageDatagram) ||
                 (h.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
                 !wellFormed(buffers[i], descriptors.size())) {
        if (complaints_.allow())
          std::fprintf(stderr,
                     "user: dropped a malformed window message datagram of %u bytes from pid "
                     "%d\n",
                     headers[i].msg_len, pid);
      } else if (buffers[i].flags == kQueryState) {
        answerQuery(descriptors.front().get(), state);
      } else if (carriesPointer(buffers[i].message)) {
        if (complaints_.allow())
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
  if (!keepFile) complaints_.flush();
  complaints_ = ComplaintLimiter();
  if (!path_.empty() && !keepFile) unlink(path_.c_str());
  path_.clear();
  fd_.reset();
}

std::optional<std::string> queryState(int pid, int timeoutMs) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
  UniqueFd mine(ends[0]), theirs(ends[1]);
  UniqueFd target = connectTo(pid);
  if (!target.valid()) return std::nullopt;
  WindowMessageDatagram query{kDatagramMagic, kDatagramVersion, kQueryState,
                              static_cast<uint64_t>(pid) << 32, 0, 0, 0, 0};
  iovec vector{&query, sizeof query};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  header.msg_iov = &vector;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  cmsghdr* rights = CMSG_FIRSTHDR(&header);
  rights->cmsg_level = SOL_SOCKET;
  rights->cmsg_type = SCM_RIGHTS;
  rights->cmsg_len = CMSG_LEN(sizeof(int));
  int passed = theirs.get();
  std::memcpy(CMSG_DATA(rights), &passed, sizeof passed);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  auto left = [&] {
    return static_cast<int>(std::max<long long>(
        0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
  };
  for (;;) {
    if (sendmsg(target.get(), &header, MSG_DONTWAIT | MSG_NOSIGNAL) ==
        static_cast<ssize_t>(sizeof query))
      break;
    if (errno == EINTR) continue;
    pollfd room{target.get(), POLLOUT, 0};
    if (errno != EAGAIN || left() == 0 || poll(&room, 1, left()) <= 0) return std::nullopt;
  }
  theirs.reset();  // from now on only the receiver holds it: its end closes the pair
  char answer[kMaxStateBytes];
  for (;;) {
    pollfd ready{mine.get(), POLLIN, 0};
    int polled = poll(&ready, 1, left());
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return std::nullopt;
    ssize_t n = recv(mine.get(), answer, sizeof answer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return std::nullopt;
    return std::string(answer, static_cast<size_t>(n));
  }
}

void removeDeadSockets() {
  std::string dir;
  FolderStream stream = openRunFolder(&dir);
  if (!stream) return;
  const std::string prefix = "socket.";
  while (dirent* entry = readdir(stream.get())) {
    std::string name = entry->d_name;
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (name.size() == prefix.size() || *end != '\0' || pid <= 0) continue;
    struct stat before, after;
    if (fstatat(dirfd(stream.get()), name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(before.st_mode))
      continue;
    if (processExists(static_cast<int>(pid))) {
      // The pid may belong to a process that never opened a socket: nobody bound to this one
      // refuses a connection. The name must still be the socket tried when it goes, or a
      // socket its new owner has just bound would be removed.
      UniqueFd probe(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
      sockaddr_un address;
      socklen_t length = 0;
      UniqueFd folder;
      if (!probe.valid() || !addressOf(dir + "/" + name, address, length, folder) ||
          connect(probe.get(), reinterpret_cast<sockaddr*>(&address), length) == 0 ||
          errno != ECONNREFUSED ||
          fstatat(dirfd(stream.get()), name.c_str(), &after, AT_SYMLINK_NOFOLLOW) != 0 ||
          after.st_ino != before.st_ino)
        continue;
    }
    unlinkat(dirfd(stream.get()), name.c_str(), 0);
  }
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
      // A live window whose process cannot be reached (its socket removed by a cleaner of
      // temporary files, say) is not a window that is gone: its subscriptions must stay, and
      // the poster must hear that the message was lost.
      if (!fd.valid())
        return c.windows.alive(datagram.hwnd) ? ERROR_PIPE_NOT_CONNECTED
                                              : ERROR_INVALID_WINDOW_HANDLE;
      if (c.sockets.size() >= kMaxConnections) c.sockets.clear();
      it = c.sockets.emplace(pid, std::move(fd)).first;
    }
    DWORD result = sendWithin(it->second.get(), datagram, deadline);
    if (result != kReconnect) return result;
    c.sockets.erase(it);
  }
  return c.windows.alive(datagram.hwnd) ? ERROR_PIPE_NOT_CONNECTED : ERROR_INVALID_WINDOW_HANDLE;
}

bool canReach(int pid) { return connectTo(pid).valid(); }

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
