// The translation between registration masks and inotify, in both directions. Platform-internal.
#pragma once

#include <cstdint>

#include "platform/linux/kernel/wintypes.h"

namespace ce::shell {

// IN_* flags to watch a folder with so that every kind in `eventMask` can be reported. Moves
// are always watched when anything at all is wanted: a rename between two watched folders
// must be told from a move in or out by its partner, whichever window watches the other side.
uint32_t inotifyFlagsFor(DWORD eventMask);

// SHCNE_* kind of one assembled change, 0 when it reports nothing. `inotifyMask` is the
// kernel's event mask, except that a paired move carries IN_MOVED_FROM | IN_MOVED_TO.
DWORD eventKindFor(uint32_t inotifyMask);

// True when the change ends every registration on its folder.
bool endsWatch(uint32_t inotifyMask);

}  // namespace ce::shell
