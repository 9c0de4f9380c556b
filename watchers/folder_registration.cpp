#include "watchers/folder_registration.h"

#include "clientlib/mainclient.h"
#include "textcore/conversions.h"
#include "textcore/text_helpers.h"
#include "recording/client_push.h"
#include "textcore/log.h"

namespace {

struct FolderSource {
  const char* sourceName;  // as the client library names the source
  HWND ClientPush::*window;
};

const FolderSource& folderSourceOf(WatchedFolder folder) {
  static const FolderSource briefcase{"briefcase", &ClientPush::briefcaseWindow};
  static const FolderSource notes{"note", &ClientPush::notesWindow};
  static const FolderSource picture{"picture", &ClientPush::pictureWindow};
  switch (folder) {
    case WatchedFolder::briefcase: return briefcase;
    case WatchedFolder::notes: return notes;
    default: return picture;
  }
}

}  // namespace

int registerFolderNotification(ClientPush* clientPush, WatchedFolder folder) {
  const FolderSource& source = folderSourceOf(folder);
  // The library is asked afresh every time, so a folder it now reports differently takes
  // effect at once.
  getRegConfig()->read();
  SyncSourceConfig* sourceConfig = getWinSyncSourceConfig(getRegConfig(), source.sourceName);
  char* path = duplicateString(getSyncDir(sourceConfig));
  wchar_t* widePath = toWideChar(path);

  SHCHANGENOTIFYENTRY entry{};
  entry.dwEventMask = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE;
  entry.pszWatchDir = widePath;
  entry.fRecursive = FALSE;
  if (!SHChangeNotifyRegister(clientPush->*source.window, &entry))
    sharedLog()->error("Problem notify folder");

  delete[] widePath;
  delete[] path;
  return 0;
}
