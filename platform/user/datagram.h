// The one datagram that carries a posted message to a window of another process. Every
// process with windows has a socket run/socket.<pid>; a poster sends exactly one of these per
// PostMessageW. The receiver drops, with one line on standard error, any datagram whose size,
// magic or version differ, that comes from another user, or whose message carries an address
// (pointer_messages.h). Platform-internal.
#pragma once

#include <cstdint>

namespace ce::user {

struct WindowMessageDatagram {
  uint32_t magic;    // kDatagramMagic: tells our datagrams from anything else
  uint16_t version;  // kDatagramVersion: bump on any change to this layout
  uint16_t flags;    // 0; reserved
  uint64_t hwnd;     // target window: owner's pid in the high 32 bits, its counter below
  uint32_t message;  // window message number
  uint32_t time;     // poster's monotonic clock in milliseconds (becomes MSG::time)
  uint64_t wParam;   // integer only: a pointer means nothing in another process
  int64_t lParam;    // integer only, as wParam
};

inline constexpr uint32_t kDatagramMagic = 0x4D574543;  // "CEWM" read as little-endian bytes
inline constexpr uint16_t kDatagramVersion = 1;

static_assert(sizeof(WindowMessageDatagram) == 40, "the datagram layout is fixed");

}  // namespace ce::user
