// The device's run/ folder opened for listing: where windows and process sockets leave their
// files, and where a boot looks for what dead processes left. Platform-internal.
#pragma once

#include <dirent.h>

#include <memory>
#include <string>

#include "platform/linux/device.h"

namespace ce::user {

struct CloseFolder {
  void operator()(DIR* stream) const { closedir(stream); }
};
using FolderStream = std::unique_ptr<DIR, CloseFolder>;

// Empty when there is no device home or the folder cannot be read; `path`, when given,
// receives the folder's path.
inline FolderStream openRunFolder(std::string* path = nullptr) {
  std::string dir;
  try {
    dir = ce::runDir();
  } catch (...) {
    return FolderStream();
  }
  if (path) *path = dir;
  return FolderStream(opendir(dir.c_str()));
}

}  // namespace ce::user
