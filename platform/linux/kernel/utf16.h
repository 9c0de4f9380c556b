// UTF-16 code units, as ICU and the UTF-7 decoder produce them, to our 32-bit wide text.
// Platform-internal.
#pragma once

#include <string>
#include <string_view>

namespace ce::kernel {

// A lone surrogate is kept as it is, as the device keeps it in wide text.
inline void assignWideFromUtf16(std::u16string_view units, std::wstring& out) {
  out.clear();
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t unit = units[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000)
      unit = 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
    out += static_cast<wchar_t>(unit);
  }
}

}  // namespace ce::kernel
