// The charset names the system understands and the code pages they stand for.
#pragma once

struct CharsetEntry {
  const char* name;  // lower-case ASCII
  int codePage;
};

// 252 rows in ascending byte order of their names, each name once, then the end row
// {nullptr, 0}. Several rows differ from the usual assignments ("latin1" is 1252 while "l1" is
// 28591, "cp500" is 775): peers decode by these numbers, so they stay as they are.
constexpr int kCharsetCount = 252;
extern const CharsetEntry charsetTable[kCharsetCount + 1];
