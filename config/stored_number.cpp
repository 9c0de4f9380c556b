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
    case REG_BINARY: return size == 4 || size == 8;
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

std::optional<std::vector<BYTE>> numericValueData(DWORD type, DWORD size, const wchar_t* text) {
  if (!text || !isNumericForm(type, size)) return std::nullopt;
  const wchar_t* p = text;
  bool negative = *p == L'-';
  if (negative) ++p;
  if (!*p) return std::nullopt;
  uint64_t magnitude = 0;
  for (; *p; ++p) {
    if (*p < L'0' || *p > L'9' || !appendDigit(magnitude, static_cast<unsigned>(*p - L'0')))
      return std::nullopt;
  }
  const unsigned bits = size * 8;
  const uint64_t unsignedMax = bits == 64 ? largest : (uint64_t{1} << bits) - 1;
  const uint64_t negativeMax = uint64_t{1} << (bits - 1);
  if (negative ? magnitude > negativeMax : magnitude > unsignedMax) return std::nullopt;
  uint64_t value = signedNumber(magnitude, negative).bits;
  std::vector<BYTE> data(size);
  for (DWORD i = 0; i < size; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
  return data;
}
