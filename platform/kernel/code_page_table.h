// Which converter gives each code page the device's own table. Platform-internal.
#pragma once

#include "platform/kernel/wintypes.h"

namespace ce::kernel {

enum class ConverterKind { icu, iconv };

struct CodePageConverter {
  UINT codePage;
  ConverterKind kind;
  const char* name;  // the exact ICU converter, or the iconv name
};

// The converter for `codePage`, or null when no converter matches the device's table (the
// code page is then unsupported, as on a device that lacks it). UTF-8 is not listed: it has
// its own codec.
const CodePageConverter* converterFor(UINT codePage);

}  // namespace ce::kernel
