// The device home and the mapping between device paths and host paths. Not a device API:
// used by the platform itself and by the device tool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ce {

// Absolute host path of the device home ($CE_DEVICE_HOME, else ./device, which is never made
// here); fs/, system/ and run/ exist once this returns. What it creates is 0700 whatever the umask. Throws
// std::runtime_error when it cannot be made, or when fs/, system/ or run/ is a symbolic link.
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

// Why this process may not use the device home at `home` (its owner's alone), as "<path>:
// permission denied", or "" when it may or when the home does not exist yet. Creates nothing.
std::string homeAccessProblem(const std::string& home);
// Why the device home at `home` cannot be trusted, as one line naming the path: the home, its
// fs/, system/ or run/ owned by another user or writable by others, an entry of system/ or
// run/ owned by another user, or a folder above the home that another user (root aside)
// owns or may write without a sticky bit. "" when it can be trusted or, for what does not
// exist yet, when the folder it would be made in can. Creates nothing.
std::string homeTrustProblem(const std::string& home);
// Why the program at `hostPath` may not be started by the device: outside fs/, a link on the
// way, or a folder of its path or the file itself another user's or writable by others.
std::string programTrustProblem(const std::string& hostPath);

// Takes every permission for others away from the home, its three folders, the entries of
// system/ and run/, and the given folders and files below fs/ (paths relative to fs/), as a
// home made by an older version or under another umask needs. Links are left alone, and so
// is what another user owns. Returns the host paths it changed.
std::vector<std::string> tightenDeviceHome(const std::vector<std::string>& fsFolders,
                                           const std::vector<std::string>& fsFiles);

// Replaces the file at `path` with `content` (a new 0600 file renamed into place, never
// written through a symbolic link). False with the path and reason in `error`.
bool writePrivateFile(const std::string& path, const std::string& content, std::string& error);

// Makes the folder and its missing parents, 0700 whatever the umask; an existing link to a
// folder is taken as the folder. False with the path and reason in `error`.
bool makePrivateFolders(const std::string& path, std::string& error);

// File names are bytes on Linux. Invalid UTF-8 bytes travel as U+DC80..U+DCFF in wide text
// and come back unchanged, so any name survives the round trip.
std::wstring widenFileName(const std::string& bytes);
bool narrowFileName(const std::wstring& text, std::string& bytes);
// The name's bytes for a message to a person; "?" for text no file name can carry.
std::string fileNameForMessage(const std::wstring& text);

}  // namespace ce
