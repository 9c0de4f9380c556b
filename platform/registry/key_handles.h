// The open key handles of this process, each with where its walks by index stand.
// Platform-internal.
#pragma once

#include "platform/kernel/wintypes.h"
#include "platform/registry/registry_store.h"

namespace ce::registry {

// A new handle for the key with row id `key`; handle values are never reused, so a closed one
// stays invalid.
HKEY openKeyHandle(long long key);
// The key behind an open handle (HKEY_LOCAL_MACHINE is always open); false for a closed,
// unknown or null handle.
bool keyOfHandle(HKEY handle, long long& key);
// False when `handle` is not open. Closing HKEY_LOCAL_MACHINE succeeds and changes nothing.
bool closeKeyHandle(HKEY handle);
void resetKeyHandles();

enum class Walk { subkeys, values };
// The handle's cursor for one kind of walk (an invalid one when the handle is not open), and
// keeping it for the next call.
EnumCursor cursorOf(HKEY handle, Walk walk);
void keepCursor(HKEY handle, Walk walk, const EnumCursor& cursor);

}  // namespace ce::registry
