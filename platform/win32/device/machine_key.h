// HKEY_LOCAL_MACHINE as the device's programs see it on Windows: a key of the current user's
// own, one per device home, so that a user without elevation runs them and two devices never
// share their settings. Platform-internal.
#pragma once

#include <string>

#include "platform/win32/windows.h"

namespace ce::win32 {

// Below HKEY_CURRENT_USER: the machine key of the device whose store folder is `system`, and
// the undo journal of its registry transactions (beside it, not in it, so that no walk of
// HKEY_LOCAL_MACHINE meets the journal).
std::wstring machineKeyPath(const std::wstring& system);
std::wstring undoJournalKeyPath(const std::wstring& system);

// Redirects this process's HKEY_LOCAL_MACHINE to
// HKEY_CURRENT_USER\Software\CeDevice\<device of %CE_DEVICE_HOME%> (created when missing).
// ERROR_SUCCESS or why not; HKEY_LOCAL_MACHINE is then left as it was.
LONG redirectMachineKey();

}  // namespace ce::win32
