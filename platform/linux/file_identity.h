// Which file a host path names right now, so that a reader following a file by name can tell
// when it was replaced by another one. Not a device API: used by the device tool.
#pragma once

#include <optional>
#include <string>

namespace ce {

struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `hostPath`, or nothing when there is none.
std::optional<FileIdentity> fileIdentity(const std::string& hostPath);

}  // namespace ce
