// An extension of our own beside the Win32 registry functions, for read-modify-write cycles.
#pragma once

#include <functional>

#include "platform/windows.h"

namespace ce::registry {

// Runs `body` with every registry call it makes inside one write transaction of the process's
// store; other threads of this process wait for it. A non-zero result of `body`, or an
// exception it throws, rolls back everything it wrote; the result is `body`'s, or the store's
// error when the transaction cannot begin or commit. Once the body writes, other processes'
// writes wait for the store (ERROR_BUSY after a few seconds) until it ends, so keep such a
// body short; a body that only reads takes no write lock and sees the store as it was at its
// first read, however long it runs. Calls nest.
// `body` may run twice: a first run whose writes lost the race for the store is rolled back
// and run again, so it must do nothing outside the registry that a second run would repeat.
LONG runInTransaction(const std::function<LONG()>& body);

}  // namespace ce::registry
