// The three folder windows: one shared implementation, three sets of columns and texts.
#include "watchers/folder_windows.h"

#include "recording/client_push.h"
#include "recording/file_type.h"
#include "watchers/folder_window.h"

namespace {

const FolderWindowTraits briefcaseTraits{
    WatchedFolder::briefcase, 600, briefcaseRules, &ClientPush::briefcaseWindow,
    {"CP Briefcase: command change dir", "Problem unregister listener folder briefcase",
     "CP Briefcase: error notify briefcase change",
     "CP Briefcase: Insufficient buffer to get the file name", nullptr,
     "CP Briefcase: Renaming Item...",
     "CP Briefcase: It is a renaming of a temp file so a modification of original",
     "CP Briefcase: It is a renaming...", "CP Briefcase: Creating Item...",
     "CP Briefcase: The file is a temporary file. It must not be signaled",
     "CP Briefcase: It is a new item inserted", "CP Briefcase: Deleting Item...",
     "CP Briefcase: The item is really deleting...",
     "CP Briefcase: Folder changes lost, signalling the folder",
     "CP Briefcase: Folder removed or moved away, signalling the folder",
     "CP Briefcase: Folder back and watched again, signalling the folder"}};

const FolderWindowTraits notesTraits{
    WatchedFolder::notes, 601, notesRules, &ClientPush::notesWindow,
    {"CP note: command change dir", "Problem unregister listener folder notes",
     "CP note: error notify briefcase change", "CP note:Insufficient buffer to get the file name",
     "CP note:  The %S file is not a note: break", "CP note: Renaming Item...",
     "CP note: It is a renaming of a temp file so a modification of original",
     "CP note: It is a renaming...", "CP note: Creating Item...",
     "CP note: The file is a temporary file. It must not be signaled",
     "CP note: It is a new item inserted", "CP note:Deleting Item...",
     "The item is really deleting...", "CP note: Folder changes lost, signalling the folder",
     "CP note: Folder removed or moved away, signalling the folder",
     "CP note: Folder back and watched again, signalling the folder"}};

const FolderWindowTraits pictureTraits{
    WatchedFolder::picture, 604, pictureRules, &ClientPush::pictureWindow,
    {"CP Picture: command change dir", "Problem unregister listener folder picture",
     "CP Picture: error notify picture change",
     "CP Picture: Insufficient buffer to get the file name",
     "CP picture:  The %S file is not a picture: break", "CP Picture: Renaming Item...",
     "CP Picture: It is a renaming of a temp file so a modification of original",
     "CP Picture: It is a renaming...", "CP Picture: Creating Item...",
     "CP Picture: The file is a temporary file. It must not be signaled",
     "CP Picture: It is a new item inserted", "CP Picture: Deleting Item...",
     "CP Picture: The item is really deleting...",
     "CP Picture: Folder changes lost, signalling the folder",
     "CP Picture: Folder removed or moved away, signalling the folder",
     "CP Picture: Folder back and watched again, signalling the folder"}};

}  // namespace

// Each window's pending list comes into being with its first message and lives as long as
// the process.
LRESULT CALLBACK BriefcaseWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static PendingTempFiles pendingTempFiles;
  return handleFolderMessage(briefcaseTraits, pendingTempFiles, window, message, wParam, lParam);
}

LRESULT CALLBACK NotesWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static PendingTempFiles pendingTempFiles;
  return handleFolderMessage(notesTraits, pendingTempFiles, window, message, wParam, lParam);
}

LRESULT CALLBACK PictureWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static PendingTempFiles pendingTempFiles;
  return handleFolderMessage(pictureTraits, pendingTempFiles, window, message, wParam, lParam);
}
