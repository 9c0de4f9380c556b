// The open key handles of this process. Platform-internal.
#pragma once

#include "platform/kernel/wintypes.h"
#include "platform/registry/registry_store.h"

namespace ce::registry {

// A new handle for `key`; handle values are never reused, so a closed one stays invalid.
HKEY openKeyHandle(const KeyRecord& key);
// The key behind an open handle (HKEY_LOCAL_MACHINE is always open); false for a closed,
// unknown or null handle.
bool keyOfHandle(HKEY handle, KeyRecord& key);
// False when `handle` is not open. Closing HKEY_LOCAL_MACHINE succeeds and changes nothing.
bool closeKeyHandle(HKEY handle);
void resetKeyHandles();

}  // namespace ce::registry
