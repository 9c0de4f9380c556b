#include "platform/win32/shell/event_kinds.h"

namespace ce::shell {

DWORD eventKindFor(Action action, bool folder) {
  switch (action) {
    case Action::renamed: return folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM;
    // A lone half of a rename: the other side is not this folder.
    case Action::added:
    case Action::movedIn: return folder ? SHCNE_MKDIR : SHCNE_CREATE;
    case Action::removed:
    case Action::movedOut: return folder ? SHCNE_RMDIR : SHCNE_DELETE;
  }
  return 0;
}

}  // namespace ce::shell
