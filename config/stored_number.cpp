#include "config/stored_number.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace {

constexpr uint64_t largest = std::numeric_limits<uint64_t>::max();
// The magnitude of the most negative 64-bit number.
constexpr uint64_t mostNegative = uint64_t{1} << 63;

bool isNumericForm(DWORD type, DWORD size) {
  switch (type) {
    case REG_DWORD: return size == 4;
    case REG_QWORD: return size == 8;
    default: return false;
  }
}

// Appends a digit to a magnitude; false once it no longer fits 64 bits.
bool appendDigit(uint64_t& magnitude, unsigned digit) {
  if (magnitude > (largest - digit) / 10) return false;
  magnitude = magnitude * 10 + digit;
  return true;
}

StoredNumber signedNumber(uint64_t magnitude, bool negative) {
  if (!negative || magnitude == 0) return StoredNumber{magnitude, false};
  return StoredNumber{~magnitude + 1, true};
}

}  // namespace

std::optional<StoredNumber> leadingNumber(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) return std::nullopt;
  uint64_t magnitude = 0;
  bool fits = true;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
    fits = fits && appendDigit(magnitude, static_cast<unsigned>(*p - '0'));
  if (negative && (!fits || magnitude > mostNegative)) magnitude = mostNegative;
  if (!negative && !fits) magnitude = largest;
  return signedNumber(magnitude, negative);
}

std::string decimalText(const StoredNumber& number) {
  return number.negative ? std::to_string(static_cast<int64_t>(number.bits))
                         : std::to_string(number.bits);
}

std::optional<std::string> numericValueText(DWORD type, const void* data, DWORD size) {
  if (!data || !isNumericForm(type, size)) return std::nullopt;
  const auto* bytes = static_cast<const BYTE*>(data);
  uint64_t value = 0;
  for (DWORD i = size; i-- > 0;) value = (value << 8) | bytes[i];
  return std::to_string(value);
}

std::wstring valueText(DWORD type, const void* data, DWORD size) {
  std::wstring text;
  if (!data) return text;
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    const auto* units = static_cast<const WCHAR*>(data);
    for (DWORD i = 0; i < size / sizeof(WCHAR) && units[i]; ++i) text += units[i];
    return text;
  }
  const auto* bytes = static_cast<const BYTE*>(data);
  auto unitAt = [bytes, size](DWORD i) {
    unsigned high = 2 * i + 1 < size ? bytes[2 * i + 1] : 0;
    return static_cast<char16_t>(bytes[2 * i] | (high << 8));
  };
  const DWORD units = (size + 1) / 2;
  for (DWORD i = 0; i < units && unitAt(i); ++i) {
    char32_t c = unitAt(i);
    // A wide wchar_t holds a pair as one character; a lone half stays as it is.
    if (sizeof(wchar_t) > 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < units &&
        unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(++i) - 0xDC00);
    text += static_cast<wchar_t>(c);
  }
  return text;
}
