#include "watchers/folder_change.h"

#include <algorithm>

namespace {

// Erases the first entry equal to `name`; true when there was one.
bool takePending(PendingTempFiles& pending, const std::wstring& name) {
  auto it = std::find(pending.begin(), pending.end(), name);
  if (it == pending.end()) return false;
  pending.erase(it);
  return true;
}

// A name the host can spell and the device cannot: the device reads a last name without
// its trailing dots and spaces, so it never finds "report." or "draft " though the file is
// there. Such a creation is recorded rather than taken for a temporary file already gone:
// a sync too many costs little, a missed one loses the change.
bool deviceCannotFind(const std::wstring& name) {
  return !name.empty() && (name.back() == L'.' || name.back() == L' ');
}

}  // namespace

FolderChange decideFolderChange(LONG eventId, const std::wstring& name, bool fileExists,
                                PendingTempFiles& pending) {
  switch (eventId) {
    case SHCNE_RENAMEITEM:
      return takePending(pending, name) ? FolderChange::renamedTempFile : FolderChange::renamed;
    case SHCNE_CREATE:
      if (fileExists || deviceCannotFind(name)) return FolderChange::created;
      pending.push_back(name);
      return FolderChange::temporaryCreated;
    case SHCNE_DELETE:
      // A temporary file that goes away is no change; any other deletion is, whatever else is
      // pending (a pending entry must not block deletions of other files forever).
      return takePending(pending, name) ? FolderChange::temporaryDeleted : FolderChange::deleted;
    case SHCNE_UPDATEDIR:
      return FolderChange::changesLost;
    // Folder events reach these windows only for the watched folder itself: they never ask
    // for the events of subfolders.
    case SHCNE_RMDIR:
      return FolderChange::folderGone;
    case SHCNE_MKDIR:
      return FolderChange::folderBack;
    default:
      return FolderChange::ignored;
  }
}

bool recordsChange(FolderChange change) {
  switch (change) {
    case FolderChange::renamedTempFile:
    case FolderChange::renamed:
    case FolderChange::created:
    case FolderChange::deleted:
    case FolderChange::changesLost:
    case FolderChange::folderGone:
    case FolderChange::folderBack:
      return true;
    default:
      return false;
  }
}
