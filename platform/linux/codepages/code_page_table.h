// Which converter gives each code page the device's own table. Platform-internal.
#pragma once

#include "platform/linux/kernel/wintypes.h"

namespace ce::kernel {

// singleByte: the vendor's table (single_byte_tables.cpp); doubleByte: a lead-byte page whose
// pairs come from ICU, decoded and encoded as the device does; utf7: the device's UTF-7; icu and
// iconv: stateful and other pages, through the library as it is.
enum class ConverterKind { singleByte, doubleByte, utf7, icu, iconv };

struct CodePageConverter {
  UINT codePage;
  ConverterKind kind;
  const char* name = nullptr;        // the exact ICU converter or iconv name
  unsigned char leadRanges[4] = {};  // doubleByte: first and last byte of up to two lead ranges
  char16_t defaultCharacter = 0;     // doubleByte: what a pair without a character decodes to
};

// The converter for `codePage`, or null when no converter matches the device's table (the
// code page is then unsupported, as on a device that lacks it). UTF-8 is not listed: it has
// its own codec.
const CodePageConverter* converterFor(UINT codePage);

}  // namespace ce::kernel
