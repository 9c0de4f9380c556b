// Numbers in the client's settings. The client keeps them as decimal text, but other programs
// may store one as a REG_DWORD or a REG_QWORD: a reader sees that number, where its bytes taken
// as text would be garbage. Every other type, REG_BINARY included, is read as UTF-16 text
// (`34 00 00 00` is "4"). Writers always store decimal REG_SZ text, which holds every bit of
// either numeric form, so a bit mask changed in one bit keeps every other bit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/windows.h"

// A number read from text, with the sign convention it was written in, so that writing it
// back after a change of some bits gives text of the same kind.
struct StoredNumber {
  uint64_t bits = 0;      // two's complement when negative
  bool negative = false;  // written with a '-'
};

// What atoi reads (leading blanks, an optional sign, digits up to the first other character),
// over 64 bits: beyond them the number saturates, keeping every bit it can. nullopt when the
// text starts with no number, or is null.
std::optional<StoredNumber> leadingNumber(const char* text);
// "-5" for a negative number, unsigned decimal otherwise.
std::string decimalText(const StoredNumber& number);

// The unsigned decimal text of a REG_DWORD of 4 bytes or a REG_QWORD of 8; nullopt for any
// other type or size.
std::optional<std::string> numericValueText(DWORD type, const void* data, DWORD size);
// The text a value holds, up to its first NUL: a string type as the wide text it was written
// in, any other type as its bytes taken as UTF-16 (little-endian) units, which is what they are
// on the device whatever the width of wchar_t here; an odd last byte is a unit of its own.
std::wstring valueText(DWORD type, const void* data, DWORD size);
