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

// A number setting: REG_SZ text (and any type other than the two numeric ones, its bytes taken
// as UTF-16 text) read as atoi does, or the number of a REG_DWORD or REG_QWORD
// (config/stored_number.h). nullopt when the key or value is missing or unreadable.
std::optional<StoredNumber> readNumberSetting(const wchar_t* keyPath, const wchar_t* name);
// Writes the number as REG_SZ decimal text, whatever form it was read in.
LONG writeNumberSetting(const wchar_t* keyPath, const wchar_t* name, const StoredNumber& value);

// Removes the value `name` of the key `keyPath`; ERROR_SUCCESS when it is not there either.
LONG deleteSetting(const wchar_t* keyPath, const wchar_t* name);

// Strict decimal parse: optional '-', digits only, within int range.
std::optional<int> parseDecimal(const std::wstring& text);

}  // namespace clientlib
