// The device home and the mapping between device paths and host paths. Not a device API:
// used by the platform itself and by the device tool.
#pragma once

#include <string>
#include <string_view>

namespace ce {

// Absolute host path of the device home ($CE_DEVICE_HOME, else ./device); fs/, system/ and
// run/ (mode 0700) exist once this returns. Throws std::runtime_error when it cannot be made.
std::string deviceHome();
std::string fsRoot();        // <home>/fs
std::string systemDir();     // <home>/system
std::string runDir();        // <home>/run

// "\My Documents\x" -> "<home>/fs/My Documents/x", by spelling alone, as Windows reads a
// path: both separators; "." parts skipped and ".." parts taken apart by name, never beyond
// the root; the last name without its trailing dots and spaces, any other without one
// trailing dot; a trailing separator kept (it names a folder). Refused, with the reason in
// SetLastError: "" (ERROR_PATH_NOT_FOUND), paths of MAX_PATH characters or more
// (ERROR_FILENAME_EXCED_RANGE), names with * ? < > | " or that cannot be encoded
// (ERROR_INVALID_NAME).
bool hostPathOf(const wchar_t* devicePath, std::string& hostPath);
// The device compares names without regard to case and keeps the case they were made with.
// For a host path below fs/ that was not found as spelled: each part that does not exist is
// replaced by the entry of its folder that differs from it only in case, as long as one
// does; the rest stays as given (a file about to be made keeps the caller's case). True when
// some part changed. Callers try the spelling first, so a name that exists costs nothing.
bool matchCase(std::string& hostPath);
// The key two names compare equal by on the device: each character upper-cased on its own.
std::wstring nameCaseKey(std::wstring_view name);
// The inverse for a host path below <home>/fs ("" when it is not below it).
std::wstring devicePathOf(const std::string& hostPath);

// File names are bytes on Linux. Invalid UTF-8 bytes travel as U+DC80..U+DCFF in wide text
// and come back unchanged, so any name survives the round trip.
std::wstring widenFileName(const std::string& bytes);
bool narrowFileName(const std::wstring& text, std::string& bytes);

}  // namespace ce
