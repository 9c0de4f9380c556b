// Unicode case-insensitive comparison of the store's UTF-8 names.
#include "platform/registry/name_collation.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace ce::registry {

namespace {

// The next character of `text`, folded; ill-formed bytes become values above U+10FFFF.
UChar32 nextFolded(const uint8_t* text, int32_t& at, int32_t size) {
  uint8_t lead = text[at];
  if (lead < 0x80) {
    ++at;
    return lead >= 'A' && lead <= 'Z' ? lead + ('a' - 'A') : lead;
  }
  int32_t start = at;
  UChar32 c;
  U8_NEXT(text, at, size, c);
  if (c < 0) {
    at = start + 1;
    return 0x110000 + lead;
  }
  return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

int collate(void*, int aBytes, const void* a, int bBytes, const void* b) {
  return compareNames(static_cast<const char*>(a), aBytes, static_cast<const char*>(b), bBytes);
}

}  // namespace

int compareNames(const char* a, int aBytes, const char* b, int bBytes) {
  const auto* left = reinterpret_cast<const uint8_t*>(a);
  const auto* right = reinterpret_cast<const uint8_t*>(b);
  int32_t i = 0, j = 0;
  while (i < aBytes && j < bBytes) {
    UChar32 x = nextFolded(left, i, aBytes);
    UChar32 y = nextFolded(right, j, bBytes);
    if (x != y) return x < y ? -1 : 1;
  }
  return (i < aBytes) - (j < bBytes);
}

int registerNameCollation(sqlite3* db) {
  return sqlite3_create_collation(db, nameCollation, SQLITE_UTF8, nullptr, collate);
}

}  // namespace ce::registry
