// Sorting files by extension for the Notes and Picture folders.
#pragma once

#include <cwchar>

inline constexpr int noteFileType = 601;
inline constexpr int pictureFileType = 604;

// 601 for a note (".pwi"), 604 for a picture (".jpg", ".jpeg", ".gif", ".png"), 0 otherwise or
// for a null path; letter case is ignored.
int getFileTypeCode(const wchar_t* path);
