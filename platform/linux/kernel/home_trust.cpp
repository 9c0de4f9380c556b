// Whether a device home can be trusted by the user who runs the device.
//
// Why ownership, and not only modes. A folder someone else made with mode 0777 looks no
// different to open(2) from one of our own, yet its maker can rename what we put in it and
// plant what we will run or read; the pre-created folder in a shared /tmp is the classic case.
// So, as ssh treats the folders of its keys, the home and the folders leading to it must be
// the user's (or root's, for the folders above it) and writable by nobody else, unless a
// sticky bit keeps others from renaming what is not theirs. lstat tells the owner; a mode
// alone never would.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "platform/linux/device.h"

namespace ce {

namespace {

constexpr mode_t writableByOthers = S_IWGRP | S_IWOTH;

std::string ownerText(const std::string& path, uid_t owner) {
  return path + ": owned by uid " + std::to_string(owner) + ", not by this user (uid " +
         std::to_string(geteuid()) + "); the device runs only from a home of its own user";
}

std::string writableText(const std::string& path) {
  return path + ": writable by other users; make it its owner's alone (chmod go-w) or use "
                "another home";
}

// A folder above the home: ours or root's, and if others may write it, sticky.
std::string ancestorProblem(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "";
  if (info.st_uid != geteuid() && info.st_uid != 0) return ownerText(path, info.st_uid);
  if ((info.st_mode & writableByOthers) && !(info.st_mode & S_ISVTX)) return writableText(path);
  return "";
}

// The home, one of its folders, or a file the device runs: ours, and only ours to write.
std::string ownProblem(const std::string& path, const struct stat& info) {
  if (info.st_uid != geteuid()) return ownerText(path, info.st_uid);
  if (!S_ISLNK(info.st_mode) && (info.st_mode & writableByOthers)) return writableText(path);
  return "";
}

// Entries of system/ or run/: only their owner matters, their modes are the boot's to tighten
// (the folder itself already keeps others out).
std::string entriesProblem(const std::string& folder) {
  DIR* stream = opendir(folder.c_str());
  if (!stream) return "";
  std::string problem;
  while (dirent* entry = readdir(stream)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    if (fstatat(dirfd(stream), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        info.st_uid != geteuid()) {
      problem = ownerText(folder + "/" + name, info.st_uid);
      break;
    }
  }
  closedir(stream);
  return problem;
}

// The nearest folder of `path` (itself included) that exists, resolved; "" when none does.
std::string nearestExisting(std::string path, bool& isPath) {
  isPath = true;
  for (;;) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) return resolved;
    if (errno != ENOENT && errno != ENOTDIR) return "";
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
      path = ".";
    } else {
      path.resize(slash == 0 ? 1 : slash);
    }
    isPath = false;
    if (path == "/") return path;
  }
}

}  // namespace

std::string homeTrustProblem(const std::string& home) {
  bool exists = false;
  std::string resolved = nearestExisting(home.empty() ? "." : home, exists);
  if (resolved.empty()) return "";
  // Every folder above: checked from the top, so the first culprit is the one named.
  std::string above = exists ? resolved.substr(0, resolved.find_last_of('/')) : resolved;
  for (size_t slash = 0; slash != std::string::npos;) {
    slash = above.find('/', slash + 1);
    std::string part = above.substr(0, slash);
    if (part.empty()) part = "/";
    if (std::string problem = ancestorProblem(part); !problem.empty()) return problem;
  }
  if (!exists) return "";
  for (const char* folder : {"", "/fs", "/system", "/run"}) {
    std::string path = resolved + folder;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    if (std::string problem = ownProblem(path, info); !problem.empty()) return problem;
  }
  for (const char* folder : {"/system", "/run"})
    if (std::string problem = entriesProblem(resolved + folder); !problem.empty()) return problem;
  return "";
}

std::string programTrustProblem(const std::string& hostPath) {
  const std::string root = fsRoot();
  if (hostPath.compare(0, root.size() + 1, root + "/") != 0)
    return hostPath + ": not inside the device's file system";
  // Each folder from fs/ down, and the program itself, never followed through a link: a
  // folder someone else could rename would let them swap the program after this look.
  for (size_t slash = root.size(); slash != std::string::npos;) {
    slash = hostPath.find('/', slash + 1);
    std::string part = hostPath.substr(0, slash);
    struct stat info;
    if (lstat(part.c_str(), &info) != 0) return "";  // its start says what is missing
    if (S_ISLNK(info.st_mode)) return part + ": is a symbolic link";
    if (std::string problem = ownProblem(part, info); !problem.empty()) return problem;
  }
  return "";
}

}  // namespace ce
