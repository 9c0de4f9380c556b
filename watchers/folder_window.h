// The one implementation behind the three folder windows, parameterised by the folder's
// columns and log texts. Internal to the watchers.
#pragma once

#include "platform/windows.h"
#include "recording/file_type.h"
#include "watchers/folder_change.h"
#include "watchers/folder_registration.h"

class ClientPush;

// Log texts of one folder window, exactly as the folder writes them; null: not written.
struct FolderTexts {
  const char* commandChangeDir;
  const char* deregisterFailed;
  const char* noRecord;
  const char* nameTooLong;
  const char* wrongType;  // a format with one %S: the name
  const char* renaming;
  const char* renamedTempFile;
  const char* renamed;
  const char* creating;
  const char* temporaryCreated;
  const char* created;
  const char* deleting;
  const char* deleted;
  const char* changesLost;
  const char* folderGone;
  const char* folderBack;
};

struct FolderWindowTraits {
  WatchedFolder folder;
  int sourceId;
  FolderRules rules;
  HWND ClientPush::*window;
  FolderTexts texts;
};

LRESULT handleFolderMessage(const FolderWindowTraits& traits, PendingTempFiles& pending,
                            HWND window, UINT message, WPARAM wParam, LPARAM lParam);
