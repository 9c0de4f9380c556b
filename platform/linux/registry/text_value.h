// Setting a long REG_SZ from UTF-8 text without widening it. Not a device API: for the device
// tool, whose registry files hold text as UTF-8.
#pragma once

#include <string_view>

#include "platform/windows.h"

namespace ce::registry {

// What RegSetValueExW(key, valueName, 0, REG_SZ, ...) does with `utf8` widened and terminated,
// without the wide copy, which takes four bytes a character (a file's one long value made an
// import peak at three times the file), and without a copy of its own. Text that is not valid
// UTF-8, or that holds a NUL, is refused with ERROR_INVALID_PARAMETER and nothing is written:
// set it through RegSetValueExW, which keeps such data as bytes.
LONG setTextValue(HKEY key, LPCWSTR valueName, std::string_view utf8);

}  // namespace ce::registry
