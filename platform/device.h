// The device home and the mapping between device paths and host paths. Not a device API:
// used by the platform itself and by the device tool.
#pragma once

#include <string>

namespace ce {

// Absolute host path of the device home ($CE_DEVICE_HOME, else ./device); fs/, system/ and
// run/ (mode 0700) exist once this returns. Throws std::runtime_error when it cannot be made.
std::string deviceHome();
std::string fsRoot();        // <home>/fs
std::string systemDir();     // <home>/system
std::string runDir();        // <home>/run

// "\My Documents\x" -> "<home>/fs/My Documents/x". Both separators are accepted; "." parts are
// skipped; ".." parts, paths of MAX_PATH characters or more and names that cannot be encoded
// are refused (false, with the reason in SetLastError).
bool hostPathOf(const wchar_t* devicePath, std::string& hostPath);
// The inverse for a host path below <home>/fs ("" when it is not below it).
std::wstring devicePathOf(const std::string& hostPath);

// File names are bytes on Linux. Invalid UTF-8 bytes travel as U+DC80..U+DCFF in wide text
// and come back unchanged, so any name survives the round trip.
std::wstring widenFileName(const std::string& bytes);
bool narrowFileName(const std::wstring& text, std::string& bytes);

}  // namespace ce
