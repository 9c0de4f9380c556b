// What the file calls on device paths share on the host side. Internal to the kernel layer.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/linux/kernel/wintypes.h"

namespace ce::kernel {

// The host path of a device path; false with the last error set when there is none, including
// when the device home itself cannot be made (ERROR_PATH_NOT_FOUND).
bool hostPathForCall(const wchar_t* devicePath, std::string& out);

// The device's attributes of what `info` describes.
DWORD attributesOf(const struct stat& info);

// The error of a call that failed on `hostPath` with `error`: a missing name is
// ERROR_FILE_NOT_FOUND in a folder that exists and ERROR_PATH_NOT_FOUND in one that does not.
DWORD errorOfMissOrFailure(const std::string& hostPath, int error);

}  // namespace ce::kernel
