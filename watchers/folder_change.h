// What a file event in a watched folder means, apart from windows and the shell.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

// Paths of files judged temporary, in the order they were seen, exactly as the shell reported
// them. Searched from the front; there is no index beside it.
using PendingTempFiles = std::vector<std::wstring>;

enum class FolderChange {
  renamedTempFile,   // a rename of a pending temporary file: a modification of the original
  renamed,           // any other rename
  temporaryCreated,  // created but already gone: joins the pending list, not recorded
  created,           // created and present
  temporaryDeleted,  // a pending temporary file went away: leaves the list, not recorded
  deleted,           // any other deletion
  changesLost,       // the shell lost events for the folder
  folderGone,        // the watched folder itself was deleted or moved away
  folderBack,        // a folder is back under the watched path, and watched again
  ignored,           // an event kind the folder does not handle
};

// Decides one event and updates the folder's pending list. `fileExists` matters for creations
// only, and not for a name ending in a dot or a space, which the device cannot look up: such
// a file counts as created. Renames and deletions remove the first pending entry equal to `name` (case-sensitive,
// whole path).
FolderChange decideFolderChange(LONG eventId, const std::wstring& name, bool fileExists,
                                PendingTempFiles& pending);

// Whether the decision records the folder's source.
bool recordsChange(FolderChange change);
