// Mask and event translation for the inotify back end of the shell notifications.
#include "platform/linux/shell/event_kinds.h"

#include <sys/inotify.h>

#include "platform/linux/shell/shell.h"

namespace ce::shell {

namespace {

constexpr DWORD kAppearing = SHCNE_CREATE | SHCNE_MKDIR;
constexpr DWORD kDisappearing = SHCNE_DELETE | SHCNE_RMDIR;
constexpr DWORD kMoving =
    kAppearing | kDisappearing | SHCNE_RENAMEITEM | SHCNE_RENAMEFOLDER;

}  // namespace

uint32_t inotifyFlagsFor(DWORD eventMask) {
  // The folder's own end is always watched, and only folders can be registered. In-place
  // writes (SHCNE_UPDATEITEM) are not watched: the device's own listener never asks for them,
  // and a file written by cp would also report its IN_CLOSE_WRITE.
  uint32_t flags = IN_ONLYDIR | IN_DELETE_SELF | IN_MOVE_SELF;
  if (eventMask & kAppearing) flags |= IN_CREATE;
  if (eventMask & kDisappearing) flags |= IN_DELETE;
  if (eventMask & kMoving) flags |= IN_MOVED_FROM | IN_MOVED_TO;
  return flags;
}

DWORD eventKindFor(uint32_t inotifyMask) {
  if (inotifyMask & IN_Q_OVERFLOW) return SHCNE_UPDATEDIR;
  const bool folder = (inotifyMask & IN_ISDIR) != 0;
  const uint32_t moves = inotifyMask & (IN_MOVED_FROM | IN_MOVED_TO);
  if (moves == (IN_MOVED_FROM | IN_MOVED_TO)) return folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM;
  // A lone half of a move: the other side is not watched here.
  if ((inotifyMask & IN_CREATE) || moves == IN_MOVED_TO) return folder ? SHCNE_MKDIR : SHCNE_CREATE;
  if ((inotifyMask & IN_DELETE) || moves == IN_MOVED_FROM) return folder ? SHCNE_RMDIR : SHCNE_DELETE;
  return 0;
}

bool endsWatch(uint32_t inotifyMask) {
  return (inotifyMask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) != 0;
}

}  // namespace ce::shell
