// The open key handles of this process, each with where its walks by index stand.
// Platform-internal.
#pragma once

#include <memory>

#include "platform/linux/kernel/wintypes.h"
#include "platform/linux/registry/registry_store.h"

namespace ce::registry {

// A new handle for the key with row id `key`; handle values are never reused, so a closed one
// stays invalid.
HKEY openKeyHandle(long long key);
// The key behind an open handle (HKEY_LOCAL_MACHINE is always open) and, when asked, where
// its walks stand (shared, so that another thread closing the handle meanwhile leaves the
// caller's walk intact); false for a closed, unknown or null handle.
bool keyOfHandle(HKEY handle, long long& key, std::shared_ptr<Walks>* walks = nullptr);
// False when `handle` is not open. Closing HKEY_LOCAL_MACHINE succeeds and changes nothing.
bool closeKeyHandle(HKEY handle);
void resetKeyHandles();

}  // namespace ce::registry
