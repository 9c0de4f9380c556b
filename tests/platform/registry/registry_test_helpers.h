// Short forms of the registry calls the tests repeat.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace ce::test {

// A key below HKEY_LOCAL_MACHINE, created when missing; null when that failed.
HKEY createKey(const wchar_t* path, DWORD* disposition = nullptr);
LONG openKey(const wchar_t* path, HKEY& key);
bool keyExists(const wchar_t* path);

LONG setString(HKEY key, const wchar_t* name, const std::wstring& text);
// The value as text ("" with `rc` set when it cannot be read).
std::wstring getString(HKEY key, const wchar_t* name, LONG* rc = nullptr);
// Subkey names in enumeration order.
std::wstring subkeysOf(HKEY key);

}  // namespace ce::test
