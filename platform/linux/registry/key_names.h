// Key paths and value names between the caller's wide text and the store's forms: the name as
// written (UTF-8) and its comparison key. Platform-internal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/kernel/wintypes.h"

namespace ce::registry {

// The device's limits, in its 16-bit wide characters: one beyond the BMP counts two.
inline constexpr size_t maxKeyNameUnits = 255;
inline constexpr size_t maxValueNameUnits = 16383;

struct StoredName {
  std::string text;  // UTF-8, in the case it was given; a lone surrogate in its 3-byte form
  std::string key;   // comparisonKey of the name
};

// What the device compares when it compares two names: the name upper-cased one 16-bit
// character at a time, as UTF-16BE bytes, so that memcmp orders keys as the device orders
// names. A character is upper-cased only where the mapping goes both ways (U+0131 "ı"
// stays, as do "ß", "ẞ" and U+01C5 "ǅ"); characters beyond the BMP and lone surrogates
// are their two or one units unchanged. Both the stored key column and every lookup use it.
std::string comparisonKey(std::wstring_view name);

// Splits `subKey` at '\' into names. Null or "" give none; empty components between and after
// names are skipped, as the device does ("a\\b\\" is a\b). ERROR_BAD_PATHNAME when it starts
// with '\'; ERROR_INVALID_PARAMETER for a name longer than 255 units or a character that no
// 16-bit text holds (above U+10FFFF).
LONG splitKeyPath(LPCWSTR subKey, std::vector<StoredName>& names);

// A value name (null is the default value ""); '\' is an ordinary character. `tooLong` tells a
// name longer than 16,383 units apart from one with an impossible character (both fail with
// ERROR_INVALID_PARAMETER).
LONG valueNameOf(LPCWSTR name, StoredName& stored, bool& tooLong);

// The stored UTF-8 form back as wide text. A surrogate pair written as two units was joined
// on the way in; bytes that are not UTF-8 (only a hand-edited store has them) become
// U+DC80..U+DCFF rather than failing.
std::wstring wideNameOf(std::string_view utf8);

}  // namespace ce::registry
