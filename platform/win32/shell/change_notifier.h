// The process's folder watches: which window watches which folder, and the watcher thread that
// turns ReadDirectoryChangesW's buffers into WM_FILECHANGEINFO records for those windows.
// Platform-internal.
#pragma once

#include <string>

#include "platform/windows.h"

namespace ce::shell {

// Watches the folder at `devicePath` for `window` instead of whatever it watched before, from
// the moment this returns. ERROR_SUCCESS or the Win32 error; on an error the earlier
// registration stands.
DWORD watchFolder(HWND window, const std::wstring& devicePath, DWORD eventMask);
// False when the window watches nothing. Once this returns no record is posted for the window;
// records posted before stay valid until released.
bool unwatchFolder(HWND window);

}  // namespace ce::shell
