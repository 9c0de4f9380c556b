// The datagram socket through which a process receives messages for its windows from other
// processes, and the sending side that posts to the sockets of others. Platform-internal.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/linux/kernel/wintypes.h"
#include "platform/linux/user/complaint_limiter.h"
#include "platform/linux/user/datagram.h"
#include "platform/linux/user/unique_fd.h"

namespace ce::user {

// run/socket.<pid>
std::string socketPathOf(int pid);

class ReceiveSocket {
 public:
  // Binds run/socket.<pid>, replacing what a dead process with the same pid left there. False
  // with the reason in SetLastError.
  bool open(int pid);
  bool isOpen() const { return fd_.valid(); }
  int descriptor() const { return fd_.get(); }
  // Reads what is waiting, at most `limit` datagrams, without blocking; hands each valid
  // message from `user` to `deliver`, answers each valid state query with what `state`
  // returns (nullopt: no answer), and reports the others on standard error, one line each
  // (at most ComplaintLimiter::kLinesPerSecond a second, the rest counted in one line):
  // those of other users, malformed ones and those whose parameters would be read as
  // addresses (pointer_messages.h). Returns the number of datagrams read, valid or not.
  size_t receive(size_t limit, uid_t user,
                 const std::function<void(const WindowMessageDatagram&)>& deliver,
                 const std::function<std::optional<std::string>()>& state);
  // Closes the socket; removes its file unless `keepFile` (a forked child's copy).
  void close(bool keepFile = false);
  ~ReceiveSocket() { close(); }

 private:
  UniqueFd fd_;
  std::string path_;
  ComplaintLimiter complaints_;
};

// Asks process `pid` for its state through its socket; nullopt when it has no socket, tells
// nothing or does not answer within timeoutMs.
std::optional<std::string> queryState(int pid, int timeoutMs);

// Removes the sockets in run/ that no process receives on any more: their process died.
void removeDeadSockets();

// Posts one datagram to the process that owns datagram.hwnd. Returns ERROR_SUCCESS,
// ERROR_INVALID_WINDOW_HANDLE when the window or its process is gone, or ERROR_TIMEOUT when
// the receiver's queue stayed full for the whole bounded wait.
DWORD sendToOwner(const WindowMessageDatagram& datagram);
// True when a datagram socket of process `pid` takes connections.
bool canReach(int pid);
// Closes every cached connection (after a reset or in a forked child).
void forgetConnections();

// How long a poster waits for a full receiver before giving up.
inline constexpr int kDefaultPostTimeoutMs = 5000;
void setPostTimeoutMs(int milliseconds);

}  // namespace ce::user
