// Reading and writing the client's REG_SZ settings. Library-internal.
#pragma once

#include <optional>
#include <string>

#include "platform/windows.h"

namespace clientlib {

// The REG_SZ value `name` of the key `keyPath` (below HKLM); nullopt when the key or value is
// missing or unreadable.
std::optional<std::wstring> readSetting(const wchar_t* keyPath, const wchar_t* name);
LONG writeSetting(const wchar_t* keyPath, const wchar_t* name, const std::wstring& value);

// Strict decimal parse: optional '-', digits only, within int range.
std::optional<int> parseDecimal(const std::wstring& text);
// What atoi makes of the text: leading blanks, optional sign, digits up to the first other
// character; 0 when there is no number; saturated like strtol on overflow.
int atoiOf(const std::wstring& text);

}  // namespace clientlib
