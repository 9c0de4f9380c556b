// What the file calls on device paths share on the host side. Internal to the kernel layer.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/kernel/wintypes.h"

namespace ce::kernel {

// The host path of a device path; false with the last error set when there is none, including
// when the device home itself cannot be made (ERROR_PATH_NOT_FOUND).
bool hostPathForCall(const wchar_t* devicePath, std::string& out);

// The device's attributes of what `info` describes.
DWORD attributesOf(const struct stat& info);

}  // namespace ce::kernel
