// Wide text read as characters whatever the width of wchar_t: UTF-16 where it is 16 bits (the
// device, Windows), UTF-32 where it is 32 (Linux). Code that walks wide text by its units
// would treat half a character beyond U+FFFF as a character of its own on one platform only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct CodePoint {
  uint32_t value;  // a lone surrogate, or a unit above U+10FFFF, is given as it is
  size_t units;    // 2 for a surrogate pair, else 1
};

// the character that starts at text[0]; text is terminated, so text[1] may always be read
// when text[0] is not the terminator. A pair is joined in either width: the platform's own
// conversions join one written as two units in 32-bit text too.
inline CodePoint codePointAt(const wchar_t* text) {
  // Through the unsigned type of the same width: a negative 32-bit unit stays out of range.
  const auto unit = [](wchar_t c) {
    return static_cast<uint32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
  };
  const uint32_t first = unit(text[0]);
  if (first >= 0xD800 && first <= 0xDBFF) {
    const uint32_t second = unit(text[1]);
    if (second >= 0xDC00 && second <= 0xDFFF)
      return {0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), 2};
  }
  return {first, 1};
}

inline bool isSurrogate(uint32_t code) { return code >= 0xD800 && code <= 0xDFFF; }
