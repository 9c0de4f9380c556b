// A compact fingerprint of a watched folder's contents, cheap enough to take at every start.
#pragma once

#include <optional>
#include <string>

// Which entries of a folder its window would ever report: the same rules, on the same full
// device paths.
struct FolderRules {
  int requiredFileType;         // 0: every entry; otherwise getFileTypeCode must give this
  bool dropPictureStoreFiles;  // entries that isPictureStoreFile matches do not count
};

// A short text that changes whenever an entry that counts is added, removed, renamed,
// resized, rewritten (modification time) or replaced (object identity), or when the folder
// itself appears, disappears or is a different path. Entries that do not count never change
// it. Null when the folder exists but cannot be listed.
std::optional<std::string> summarizeFolder(const std::wstring& devicePath,
                                           const FolderRules& rules);
