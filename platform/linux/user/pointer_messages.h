// Which window messages carry an address in wParam or lParam. Platform-internal.
//
// The rule: a message from another process carries integers only. An address means nothing
// outside the process that made it, and the receiving window would read whatever a sender
// chose, so a message whose parameter the receiver (its window procedure, DefWindowProcW or
// DispatchMessageW) reads through as a pointer never crosses a process boundary:
// - PostMessageW to a window of another process fails with ERROR_MESSAGE_SYNC_ONLY and sends
//   nothing;
// - the receiving socket drops such a datagram with one line on standard error, since any
//   process of the user can write the datagram without going through PostMessageW.
// Within one process these messages are posted and sent as usual (the shell's file-change
// records travel that way).
#pragma once

#include "platform/linux/kernel/wintypes.h"

namespace ce::user {

bool carriesPointer(UINT message);

}  // namespace ce::user
