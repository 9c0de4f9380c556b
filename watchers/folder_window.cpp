#include "watchers/folder_window.h"

#include <cwchar>

#include "recording/change_recording.h"
#include "recording/client_push.h"
#include "textcore/log.h"
#include "recording/file_type.h"

namespace {

// The type and journal filters. A rename passes when either of its paths does, so a file
// saved under a temporary name and then renamed to its real one is not missed; the verdict
// on a dropped event is the first path's.
RuleVerdict filterVerdict(const FolderWindowTraits& traits, const FILECHANGENOTIFY& notify,
                          const wchar_t* name) {
  RuleVerdict first = applyFolderRules(traits.rules, name);
  if (first == RuleVerdict::counts) return first;
  if (notify.fci.wEventId == SHCNE_RENAMEITEM &&
      applyFolderRules(traits.rules, reinterpret_cast<const wchar_t*>(notify.fci.dwItem2)) ==
          RuleVerdict::counts)
    return RuleVerdict::counts;
  return first;
}

bool passesFilters(const FolderWindowTraits& traits, const FILECHANGENOTIFY& notify,
                   const wchar_t* name) {
  RuleVerdict verdict = filterVerdict(traits, notify, name);
  if (verdict == RuleVerdict::wrongType) sharedLog()->info(traits.texts.wrongType, name);
  return verdict == RuleVerdict::counts;
}

void record(const FolderWindowTraits& traits) {
  setPIMModifications(ClientPush::getInstance(), traits.sourceId);
}

// Events on the watched folder as a whole: what it holds may have changed, whatever the file
// types, so they pass no filter.
bool isWholeFolderEvent(LONG event) {
  return event == SHCNE_UPDATEDIR || event == SHCNE_RMDIR || event == SHCNE_MKDIR;
}

bool isFileEvent(LONG event) {
  return event == SHCNE_RENAMEITEM || event == SHCNE_CREATE || event == SHCNE_DELETE;
}

const char* wholeFolderText(const FolderTexts& texts, FolderChange change) {
  switch (change) {
    case FolderChange::folderGone: return texts.folderGone;
    case FolderChange::folderBack: return texts.folderBack;
    default: return texts.changesLost;
  }
}

void handleChange(const FolderWindowTraits& traits, PendingTempFiles& pending,
                  const FILECHANGENOTIFY& notify, const wchar_t* name) {
  Log* log = sharedLog();
  const FolderTexts& texts = traits.texts;
  LONG event = notify.fci.wEventId;
  switch (event) {
    case SHCNE_RENAMEITEM: {
      log->info("%s", texts.renaming);
      record(traits);
      FolderChange change = decideFolderChange(event, name, false, pending);
      log->info("%s", change == FolderChange::renamedTempFile ? texts.renamedTempFile
                                                              : texts.renamed);
      return;
    }
    case SHCNE_CREATE: {
      log->info("%s", texts.creating);
      bool exists = GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES;
      if (decideFolderChange(event, name, exists, pending) == FolderChange::temporaryCreated) {
        log->info("%s", texts.temporaryCreated);
        return;
      }
      log->info("%s", texts.created);
      record(traits);
      return;
    }
    case SHCNE_DELETE:
      log->info("%s", texts.deleting);
      if (decideFolderChange(event, name, false, pending) == FolderChange::deleted) {
        log->info("%s", texts.deleted);
        record(traits);
      }
      return;
    case SHCNE_UPDATEDIR:
    case SHCNE_RMDIR:
    case SHCNE_MKDIR:
      log->info("%s", wholeFolderText(texts, decideFolderChange(event, name, false, pending)));
      record(traits);
      return;
    default:
      return;
  }
}

// Copies the notified path into the device's MAX_PATH buffer; false, and nothing copied, when
// it does not fit with its terminator. Not by swprintf: glibc's returns -1 for a path that
// does not fit, mingw's the length it would have written, and a test of one answer alone lets
// the other pass a cut name for a whole one.
bool copyName(wchar_t (&name)[MAX_PATH], const wchar_t* item) {
  const size_t length = std::wcslen(item);
  if (length >= MAX_PATH) return false;
  std::wmemcpy(name, item, length + 1);
  return true;
}

void handleFileChange(const FolderWindowTraits& traits, PendingTempFiles& pending, LPARAM lParam) {
  auto* notify = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
  if (!notify) {
    sharedLog()->error("%s", traits.texts.noRecord);
    return;
  }
  // The device copies the path into a MAX_PATH buffer before anything else; a longer one is
  // never cut.
  wchar_t name[MAX_PATH];
  const auto* item = reinterpret_cast<const wchar_t*>(notify->fci.dwItem1);
  if (!item) item = L"";
  const LONG event = notify->fci.wEventId;
  if (!copyName(name, item)) {
    sharedLog()->error("%s", traits.texts.nameTooLong);
    // The folder's bit needs no name, so the change still counts. Such a name can be neither
    // pending nor found pending, so the temporary-file rules have nothing to say about it. The
    // error line is the only one: the device never gets as far as the type filter's.
    if (isWholeFolderEvent(event) ||
        (isFileEvent(event) && filterVerdict(traits, *notify, item) == RuleVerdict::counts))
      record(traits);
    SHChangeNotifyFree(notify);
    return;
  }
  if (isWholeFolderEvent(event) || passesFilters(traits, *notify, name))
    handleChange(traits, pending, *notify, name);
  SHChangeNotifyFree(notify);
}

}  // namespace

LRESULT handleFolderMessage(const FolderWindowTraits& traits, PendingTempFiles& pending,
                            HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ClientPush* clientPush = ClientPush::getInstance();
  switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      sharedLog()->info("%s", traits.texts.commandChangeDir);
      if (!SHChangeNotifyDeregister(clientPush->*traits.window))
        sharedLog()->error("%s", traits.texts.deregisterFailed);
      registerFolderNotification(clientPush, traits.folder);
      return 0;
    case WM_FILECHANGEINFO:
      handleFileChange(traits, pending, lParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
