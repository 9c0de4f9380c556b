// The translation from ReadDirectoryChangesW's actions to the device's event kinds.
// Platform-internal.
#pragma once

#include "platform/windows.h"

namespace ce::shell {

// What one entry of a change buffer reports, once the two halves of a rename are joined.
enum class Action { added, removed, renamed, movedOut, movedIn };

// SHCNE_* kind of an action on a file or a folder.
DWORD eventKindFor(Action action, bool folder);

// The notify filter a folder is read with: names of files and folders only. In-place writes
// (SHCNE_UPDATEITEM) are not watched: the device's own listener never asks for them.
constexpr DWORD kFolderFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
// What a folder above a watched one is read with: the names of its folders, one of which is
// on the way to the watched folder.
constexpr DWORD kAboveFilter = FILE_NOTIFY_CHANGE_DIR_NAME;

}  // namespace ce::shell
