// The device home and the mapping between device paths and host paths. Not a device API:
// used by the platform itself and by the device tool.
#pragma once

#include <string>
#include <vector>

namespace ce {

// Absolute host path of the device home ($CE_DEVICE_HOME, else ./device); fs/, system/ and
// run/ exist once this returns. What it creates is 0700 whatever the umask. Throws
// std::runtime_error when it cannot be made, or when fs/, system/ or run/ is a symbolic link.
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

// Why this process may not use the device home at `home` (its owner's alone), as "<path>:
// permission denied", or "" when it may or when the home does not exist yet. Creates nothing.
std::string homeAccessProblem(const std::string& home);

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

}  // namespace ce
