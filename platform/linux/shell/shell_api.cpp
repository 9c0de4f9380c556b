// SHChangeNotifyRegister, SHChangeNotifyDeregister and SHChangeNotifyFree over the process's
// one ChangeNotifier, which joins the message loop with the first registration.
#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/shell/change_notifier.h"
#include "platform/linux/shell/notification_records.h"
#include "platform/linux/shell/shell.h"
#include "platform/linux/user/message_sources.h"
#include "platform/linux/user/user.h"
#include "platform/linux/user/window_table.h"

namespace {

std::mutex stateMutex;
std::unique_ptr<ce::shell::ChangeNotifier> notifier;

bool postRecord(HWND window, FILECHANGENOTIFY* record) {
  return PostMessageW(window, WM_FILECHANGEINFO, 0, reinterpret_cast<LPARAM>(record)) != FALSE;
}

// Drops every registration, the descriptor and the records nobody took.
void resetShell() {
  std::lock_guard<std::mutex> lock(stateMutex);
  if (notifier) {
    ce::removeMessageSource(notifier.get());
    notifier.reset();
  }
  ce::shell::releaseAllRecords();
}

void hookReset() {
  static const bool hooked = (ce::addResetHook(&resetShell), true);
  (void)hooked;
}

}  // namespace

BOOL SHChangeNotifyRegister(HWND window, SHCHANGENOTIFYENTRY* entry) {
  long long forced;
  if (ce::failPointHit("SHChangeNotifyRegister", forced)) return static_cast<BOOL>(forced);
  hookReset();
  if (!entry || !entry->pszWatchDir) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Subfolders are never watched here: inotify watches one folder at a time, and nothing on
  // this device asks for more.
  if (entry->fRecursive) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  // Records are pointers into this process's heap: another process could not read them.
  if (!ce::isWindowOfThisProcess(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::string hostPath;
  size_t rootLength = 0;
  try {
    if (!ce::hostPathOf(entry->pszWatchDir, hostPath)) return FALSE;
    // The device finds a folder named in another case; one that exists as spelled costs a stat.
    struct stat info;
    if (stat(hostPath.c_str(), &info) != 0) ce::matchCase(hostPath);
    rootLength = ce::fsRoot().size();
  } catch (const std::runtime_error&) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(stateMutex);
  if (!notifier) {
    auto made = std::make_unique<ce::shell::ChangeNotifier>(&postRecord);
    if (!made->valid()) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // out of inotify instances or descriptors
      return FALSE;
    }
    notifier = std::move(made);
    ce::addMessageSource(notifier.get());
  }
  DWORD error = notifier->watch(window, hostPath, rootLength, entry->dwEventMask);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

BOOL SHChangeNotifyDeregister(HWND window) {
  long long forced;
  if (ce::failPointHit("SHChangeNotifyDeregister", forced)) return static_cast<BOOL>(forced);
  std::lock_guard<std::mutex> lock(stateMutex);
  if (!notifier || !notifier->unwatch(window)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

void SHChangeNotifyFree(FILECHANGENOTIFY* notify) {
  if (notify) ce::shell::releaseRecord(notify);
}
