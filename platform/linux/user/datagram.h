// The one datagram that carries a posted message to a window of another process. Every
// process with windows has a socket run/socket.<pid>; a poster sends exactly one of these per
// PostMessageW. The receiver drops, with one line on standard error, any datagram whose size,
// magic, version or flags differ, that comes from another user, or whose message carries an
// address (pointer_messages.h). Platform-internal.
//
// The same datagram with flags kQueryState asks the receiving process, not a window, for its
// state (platform/process_state.h): hwnd names the process (its pid in the high bits),
// message, wParam and lParam are 0, and it carries exactly one descriptor (SCM_RIGHTS), one
// end of a SOCK_SEQPACKET pair. The receiver answers on it with one packet of at most
// kMaxStateBytes of text, or with none when the program has no state to tell, and closes
// it. Any other descriptor a datagram carries is closed unread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ce::user {

struct WindowMessageDatagram {
  uint32_t magic;    // kDatagramMagic: tells our datagrams from anything else
  uint16_t version;  // kDatagramVersion: bump on any change to this layout
  uint16_t flags;    // 0: a posted message; kQueryState: a question to the process
  uint64_t hwnd;     // target window: owner's pid in the high 32 bits, its counter below
  uint32_t message;  // window message number
  uint32_t time;     // poster's monotonic clock in milliseconds (becomes MSG::time)
  uint64_t wParam;   // integer only: a pointer means nothing in another process
  int64_t lParam;    // integer only, as wParam
};

inline constexpr uint32_t kDatagramMagic = 0x4D574543;  // "CEWM" read as little-endian bytes
inline constexpr uint16_t kDatagramVersion = 1;
inline constexpr uint16_t kQueryState = 1;
inline constexpr size_t kMaxStateBytes = 4096;

static_assert(sizeof(WindowMessageDatagram) == 40, "the datagram layout is fixed");

}  // namespace ce::user
