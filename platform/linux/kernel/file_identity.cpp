#include "platform/linux/file_identity.h"

#include <sys/stat.h>

namespace ce {

std::optional<FileIdentity> fileIdentity(const std::string& hostPath) {
  struct stat info {};
  if (stat(hostPath.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{static_cast<unsigned long long>(info.st_dev),
                      static_cast<unsigned long long>(info.st_ino)};
}

}  // namespace ce
