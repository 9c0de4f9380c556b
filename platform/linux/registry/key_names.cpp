// Name checks, the UTF-8 form of names and their comparison key.
//
// Names are stored as the caller wrote them, in UTF-8 so that the sqlite3 shell shows them.
// The device's names are counted 16-bit text, which may hold a lone surrogate; UTF-8 has no
// form for one, so such a surrogate is written as the three bytes its code point would take
// (as WTF-8 does), and read back as that surrogate.
#include "platform/linux/registry/key_names.h"


#include <cwchar>

#include "platform/linux/icu/lazy_icu.h"
#include "platform/linux/registry/registry.h"

namespace ce::registry {

namespace {

bool isHighSurrogate(unsigned long c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(unsigned long c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The length of the UTF-8 sequence `lead` starts; 0 for a byte that starts none.
size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

void appendUtf8(unsigned long c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// `size` wide characters as a stored name; false for a character above U+10FFFF. `units`
// counts the 16-bit characters the device would need.
bool storedNameOf(const wchar_t* text, size_t size, StoredName& name, size_t& units) {
  name.text.clear();
  units = 0;
  std::wstring joined;
  joined.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    auto c = static_cast<unsigned long>(text[i]);
    if (c > 0x10FFFF) return false;
    // A pair given as two units is the one character it encodes.
    auto next = i + 1 < size ? static_cast<unsigned long>(text[i + 1]) : 0;
    if (isHighSurrogate(c) && isLowSurrogate(next)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    }
    units += c >= 0x10000 ? 2 : 1;
    appendUtf8(c, name.text);
    joined += static_cast<wchar_t>(c);
  }
  name.key = comparisonKey(joined);
  return true;
}

// The device's upper case of one 16-bit character: the simple mapping, taken only where it
// maps back (Wine's l_intl.nls table, generated the same way, holds exactly these pairs).
char16_t upcased(char16_t unit) {
  if (unit < 0x80) return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  const auto& icu = icu::functions();
  UChar32 upper = icu.toUpper(unit);
  if (upper == unit || upper > 0xFFFF || icu.toLower(upper) != unit) return unit;
  return static_cast<char16_t>(upper);
}

void appendUnit(char16_t unit, std::string& key) {
  key += static_cast<char>(unit >> 8);
  key += static_cast<char>(unit & 0xFF);
}

}  // namespace

std::string comparisonKey(std::wstring_view name) {
  std::string key;
  key.reserve(name.size() * 2);
  for (wchar_t wide : name) {
    auto c = static_cast<unsigned long>(wide);
    if (c >= 0x10000) {
      // Two units on the device, and its upper-casing never joins them into one character.
      appendUnit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)), key);
      appendUnit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)), key);
    } else {
      appendUnit(upcased(static_cast<char16_t>(c)), key);
    }
  }
  return key;
}

LONG splitKeyPath(LPCWSTR subKey, std::vector<StoredName>& names) {
  names.clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  if (*subKey == L'\\') return ERROR_BAD_PATHNAME;
  for (const wchar_t* start = subKey; *start;) {
    const wchar_t* end = std::wcschr(start, L'\\');
    size_t size = end ? static_cast<size_t>(end - start) : std::wcslen(start);
    if (size > 0) {
      StoredName name;
      size_t units = 0;
      if (!storedNameOf(start, size, name, units) || units > maxKeyNameUnits)
        return ERROR_INVALID_PARAMETER;
      names.push_back(std::move(name));
    }
    if (!end) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LONG valueNameOf(LPCWSTR name, StoredName& stored, bool& tooLong) {
  tooLong = false;
  stored = StoredName{};
  if (!name) return ERROR_SUCCESS;
  size_t units = 0;
  if (!storedNameOf(name, std::wcslen(name), stored, units)) return ERROR_INVALID_PARAMETER;
  tooLong = units > maxValueNameUnits;
  return tooLong ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

std::wstring wideNameOf(std::string_view utf8) {
  std::wstring out;
  out.reserve(utf8.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t size = utf8.size();
  for (size_t i = 0; i < size;) {
    unsigned char lead = bytes[i];
    size_t length = sequenceLength(lead);
    unsigned long c = length == 1 ? lead : lead & (0xFF >> (length + 1));
    bool valid = length > 0 && i + length <= size;
    for (size_t k = 1; valid && k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) valid = false;
      c = (c << 6) | (bytes[i + k] & 0x3F);
    }
    // Overlong forms and values past U+10FFFF are not UTF-8; surrogates are our own form.
    if (valid && ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF))))
      valid = false;
    if (!valid) {
      out += static_cast<wchar_t>(0xDC00 + lead);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += length;
  }
  return out;
}

}  // namespace ce::registry
