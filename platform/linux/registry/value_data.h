// Value data between the form callers pass (wide-text bytes) and the form the store keeps.
// Platform-internal.
#pragma once

#include <string>

#include "platform/linux/kernel/wintypes.h"

namespace ce::registry {

// REG_SZ is kept as UTF-8 text so that the store reads well in the sqlite3 shell, a four-byte
// REG_DWORD as an integer, everything else as the caller's bytes. A REG_SZ that is not one
// NUL-terminated string of encodable characters (no terminator, an odd size, an inner NUL,
// junk) is kept as bytes too, so that every value comes back exactly as it was written.
struct StoredValue {
  enum class Form { text, integer, bytes };
  DWORD type = 0;
  Form form = Form::bytes;
  std::string bytes;  // text (without terminator) or raw bytes
  long long integer = 0;
};

StoredValue storedFormOf(DWORD type, const BYTE* data, DWORD size);

// Size in bytes of the form RegQueryValueExW hands out: (characters + 1) * sizeof(WCHAR) for
// text, 4 for an integer, the byte count otherwise.
DWORD wideSizeOf(const StoredValue& value);
// Writes exactly wideSizeOf(value) bytes.
void copyWideForm(const StoredValue& value, BYTE* out);

}  // namespace ce::registry
