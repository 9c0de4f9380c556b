// The heap records that WM_FILECHANGEINFO carries: made by the notifier, released by the
// receiver. Every live record is known, so a stray or second release is harmless and a reset
// frees what was never delivered. Platform-internal.
#pragma once

#include <string>

#include "platform/linux/shell/shell.h"

namespace ce::shell {

// One block: the record followed by its path texts. `newPath` may be null.
FILECHANGENOTIFY* newRecord(LONG eventId, const std::wstring& path, const std::wstring* newPath);
// False when `record` is not a live record.
bool releaseRecord(FILECHANGENOTIFY* record);
void releaseAllRecords();
size_t liveRecordCount();

}  // namespace ce::shell
