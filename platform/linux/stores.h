// What is wrong with a store of the device, in words, for a tool that must name it. Not a
// device API.
#pragma once

#include <string>

namespace ce {

// The file names of the device's stores in <home>/system.
inline constexpr const char* registryStoreName = "registry.db";
inline constexpr const char* pimStoreName = "pim.db";
inline constexpr const char* notifyStoreName = "notify.db";

// Why the store <home>/system/<name> cannot be read ("file is not a database", "is a
// symbolic link", "Permission denied", ...), or "" when it can, or when it does not exist
// yet. Reads only: the store is opened read-only and never changed.
std::string storeProblem(const std::string& name);

}  // namespace ce
