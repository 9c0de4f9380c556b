// Files and folders the device makes for itself: its owner's alone, and never reached through
// a symbolic link planted in their place. Platform-internal; the device tool has the parts it
// needs in platform/device.h.
#pragma once

#include <cstdio>
#include <string>

namespace ce::kernel {

// open(2) for a file of the device: `flags` as open takes them (O_CREAT among them to create
// the file when missing). A file this call creates is 0600 whatever the umask; an existing
// one keeps its mode. A symbolic link in the last component is refused (ELOOP), and so is
// anything but a regular file (EINVAL), so no planted FIFO can block the caller either. The
// descriptor is close-on-exec. -1 with errno set on failure.
int openPrivate(const std::string& path, int flags);

// fopen(3) modes ("r", "w", "a", with "+"; "e" is implied) over openPrivate.
FILE* openPrivateStream(const std::string& path, const char* mode);

// mkdir(2) with mode 0700 whatever the umask. True when the folder exists afterwards; an
// existing symbolic link to a folder counts only when `linkAllowed` (ELOOP otherwise). False
// with errno set otherwise.
bool makePrivateFolder(const std::string& path, bool linkAllowed);

// "is a symbolic link", "not a regular file" or strerror's text, for the errno of the above.
std::string privateOpenError(int error);

}  // namespace ce::kernel
