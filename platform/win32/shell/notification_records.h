// The records that WM_FILECHANGEINFO carries: made by the watcher thread, released by the
// receiver with SHChangeNotifyFree. Every live record is known, so a stray or second release
// is harmless, and a record posted before its window deregistered stays valid until it is
// released. Platform-internal.
#pragma once

#include <string>

#include "platform/windows.h"

namespace ce::shell {

// One block: the record followed by its path texts. `newPath` may be null.
FILECHANGENOTIFY* newRecord(LONG eventId, const std::wstring& path, const std::wstring* newPath);
// False when `record` is not a live record.
bool releaseRecord(FILECHANGENOTIFY* record);

}  // namespace ce::shell
