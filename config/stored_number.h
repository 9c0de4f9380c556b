// Numbers in the client's settings. The client keeps them as decimal text, but other programs
// store some of them as numbers: a REG_DWORD, a REG_QWORD, or a REG_BINARY of 4 or 8 bytes
// (little-endian, as the device keeps numbers). Whatever the form, a reader sees the number
// and a writer keeps the form, so that a bit mask changed in one bit keeps every other bit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// The unsigned decimal text of a value stored in one of the numeric forms; nullopt for any
// other type or size.
std::optional<std::string> numericValueText(DWORD type, const void* data, DWORD size);
// `text` (an optional '-' and digits, nothing else) as the data of that numeric form, when the
// number fits its size read as signed or as unsigned; nullopt otherwise.
std::optional<std::vector<BYTE>> numericValueData(DWORD type, DWORD size, const wchar_t* text);
