// Which requests name the same program. Platform-internal.
#pragma once

#include <string>

namespace ce::notify {

// The device compares program paths without regard to case: requests whose paths differ only
// in case share this key. Independent of the process's locale, so every process agrees.
// FIXME: host file names are case-sensitive, so the scheduler starts the spelling of the
// latest request; a replacement spelled differently from the file on disk is not found.
std::wstring appKeyOf(const std::wstring& devicePath);

}  // namespace ce::notify
