// A compact fingerprint of a watched folder's contents, cheap enough to take at every start.
#pragma once

#include <optional>
#include <string>

#include "recording/file_type.h"

// A short text that changes whenever an entry that counts is added, removed, renamed,
// resized, rewritten (modification time) or replaced (object identity), or when the folder
// itself appears, disappears or is a different path. Entries that do not count by `rules`,
// which the folder's window applies to the same full device paths, never change it. Null when the folder exists but cannot be listed.
std::optional<std::string> summarizeFolder(const std::wstring& devicePath,
                                           const FolderRules& rules);
