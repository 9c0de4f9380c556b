#include "watchers/folder_window.h"

#include <cwchar>

#include "recording/change_recording.h"
#include "recording/client_push.h"
#include "log/log.h"
#include "recording/file_type.h"

namespace {

enum class FilterResult { pass, wrongType, journalFile };

FilterResult filterPath(const FolderWindowTraits& traits, const wchar_t* path) {
  if (traits.requiredFileType && getFileTypeCode(path) != traits.requiredFileType)
    return FilterResult::wrongType;
  if (traits.dropDatFiles && isPictureStoreFile(path))
    return FilterResult::journalFile;
  return FilterResult::pass;
}

// The name as the log can print it: a file name that is not UTF-8 carries its stray bytes as
// lone surrogates, which %S cannot print (the line would stop there); they show as U+FFFD.
std::wstring printableName(const wchar_t* name) {
  std::wstring printable = name ? name : L"";
  for (wchar_t& c : printable)
    if ((c >= 0xD800 && c <= 0xDFFF) || static_cast<unsigned long>(c) > 0x10FFFF) c = 0xFFFD;
  return printable;
}

// The type and journal filters. A rename passes when either of its paths does, so a file
// saved under a temporary name and then renamed to its real one is not missed; what is
// logged for a dropped event follows the first path.
bool passesFilters(const FolderWindowTraits& traits, const FILECHANGENOTIFY& notify,
                   const wchar_t* name) {
  FilterResult first = filterPath(traits, name);
  if (first == FilterResult::pass) return true;
  if (notify.fci.wEventId == SHCNE_RENAMEITEM &&
      filterPath(traits, reinterpret_cast<const wchar_t*>(notify.fci.dwItem2)) ==
          FilterResult::pass)
    return true;
  if (first == FilterResult::wrongType)
    sharedLog()->info(traits.texts.wrongType, printableName(name).c_str());
  return false;
}

void record(const FolderWindowTraits& traits) {
  setPIMModifications(ClientPush::getInstance(), traits.sourceId);
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
      log->info("%s", texts.changesLost);
      record(traits);
      return;
    default:
      return;
  }
}

void handleFileChange(const FolderWindowTraits& traits, PendingTempFiles& pending, LPARAM lParam) {
  auto* notify = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
  if (!notify) {
    sharedLog()->error("%s", traits.texts.noRecord);
    return;
  }
  // The device copies the path into a MAX_PATH buffer before anything else; a longer one is
  // dropped whole rather than cut.
  wchar_t name[MAX_PATH];
  const auto* item = reinterpret_cast<const wchar_t*>(notify->fci.dwItem1);
  if (std::swprintf(name, MAX_PATH, L"%ls", item ? item : L"") < 0) {
    sharedLog()->error("%s", traits.texts.nameTooLong);
    SHChangeNotifyFree(notify);
    return;
  }
  // Lost events are signalled whatever the file types: the folder as a whole may have changed.
  if (notify->fci.wEventId == SHCNE_UPDATEDIR || passesFilters(traits, *notify, name))
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
