// A compact fingerprint of a watched folder's contents, cheap enough to take at every start.
#pragma once

#include <optional>
#include <string>

#include "recording/file_type.h"

// A short text that changes whenever an entry that counts is added, removed, renamed,
// resized, rewritten (modification time) or replaced (object identity), or when the folder
// itself appears, disappears or is a different path. Entries that do not count by `rules`,
// which the folder's window applies to the same full device paths, never change it. Null when
// the folder exists but cannot be listed. The text is the same for 16-bit and 32-bit wchar_t.
std::optional<std::string> summarizeFolder(const std::wstring& devicePath,
                                           const FolderRules& rules);

// "." or "..": desktop Windows lists them in a folder, the device never does, and neither is
// an entry of the folder.
bool isSelfOrParentEntry(const wchar_t* name);
