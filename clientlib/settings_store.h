// Reading and writing the client's settings. Library-internal.
#pragma once

#include <optional>
#include <string>

#include "config/stored_number.h"
#include "platform/windows.h"

namespace clientlib {

// The REG_SZ value `name` of the key `keyPath` (below HKLM); nullopt when the key or value is
// missing or unreadable.
std::optional<std::wstring> readSetting(const wchar_t* keyPath, const wchar_t* name);
LONG writeSetting(const wchar_t* keyPath, const wchar_t* name, const std::wstring& value);

// A number setting as stored: REG_SZ text read as atoi does, or one of the numeric forms
// another program may keep it in (config/stored_number.h).
struct NumberSetting {
  DWORD type = REG_SZ;
  DWORD size = 0;
  StoredNumber number;
};
// nullopt when the key or value is missing, unreadable, or in a form that holds no number.
std::optional<NumberSetting> readNumberSetting(const wchar_t* keyPath, const wchar_t* name);
// Writes the number back in the form it was read in.
LONG writeNumberSetting(const wchar_t* keyPath, const wchar_t* name, const NumberSetting& value);

// Strict decimal parse: optional '-', digits only, within int range.
std::optional<int> parseDecimal(const std::wstring& text);

}  // namespace clientlib
