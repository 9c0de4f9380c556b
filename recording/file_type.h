// Sorting files by name for the Notes and Picture folders: the rules the folder windows
// apply to each event and the start-up comparison applies to each file it finds, kept
// below both so that they cannot drift apart.
#pragma once

#include <cwchar>

inline constexpr int noteFileType = 601;
inline constexpr int pictureFileType = 604;

// 601 for a note (".pwi"), 604 for a picture (".jpg", ".jpeg", ".gif", ".png"), 0 otherwise or
// for a null path; letter case is ignored.
int getFileTypeCode(const wchar_t* path);

// True when the path contains ".dat" anywhere (case-sensitive, ".dat.jour" included): the
// picture store's own database and journal files, never pictures to synchronise.
bool isPictureStoreFile(const wchar_t* path);

// Which entries of a watched folder are its changes.
struct FolderRules {
  int requiredFileType;        // 0: every entry; otherwise getFileTypeCode must give this
  bool dropPictureStoreFiles;  // entries that isPictureStoreFile matches do not count
};
inline constexpr FolderRules briefcaseRules{0, false};
inline constexpr FolderRules notesRules{noteFileType, false};
inline constexpr FolderRules pictureRules{pictureFileType, true};

enum class RuleVerdict { counts, wrongType, pictureStoreFile };
RuleVerdict applyFolderRules(const FolderRules& rules, const wchar_t* path);
