#include "listener/push_window.h"

#include <cstdint>

#include "clientlib/mainclient.h"
#include "recording/change_recording.h"
#include "recording/client_push.h"
#include "recording/offline_changes.h"
#include "textcore/log.h"

namespace {

// On the device WPARAM is 32 bits wide; a wider value here names no flag at all rather
// than whatever its low bits happen to be.
unsigned flagNumberOf(WPARAM wParam) {
  return wParam > UINT32_MAX ? 0u : static_cast<unsigned>(wParam);
}

// The same for the folder identifier that PIM notifications carry in lParam.
int32_t folderIdOf(LPARAM lParam) {
  return lParam < INT32_MIN || lParam > INT32_MAX ? -1 : static_cast<int32_t>(lParam);
}

// Shuts the listener down; no step is skipped when an earlier one fails.
void closeListener(ClientPush* clientPush, HWND window) {
  Log* log = sharedLog();
  log->info("CP: WM_CLOSE the application");
  // While the folders are still watched, so that no change falls between summary and watch.
  rememberFolderSummaries(clientPush);
  if (!SHChangeNotifyDeregister(clientPush->notesWindow))
    log->error("Problem unregister listener folder notes");
  if (!SHChangeNotifyDeregister(clientPush->briefcaseWindow))
    log->error("Problem unregister listener folder briefcase");
  if (!SHChangeNotifyDeregister(clientPush->pictureWindow))
    log->error("Problem unregister listener folder picture");
  releasePoom(clientPush);
  // 0 clears nothing: every recorded change stays for the next synchronisation.
  resetPIMModifications(0);
  log->debug("Unregister class");
  for (const WNDCLASS* record : {&clientPush->pushClass, &clientPush->notesClass,
                                 &clientPush->briefcaseClass, &clientPush->pictureClass})
    UnregisterClassW(record->lpszClassName, record->hInstance);
  log->debug("End dialog");
  EndDialog(window, 0);
  log->debug("Destroy wnd");
  DestroyWindow(window);
}

}  // namespace

LRESULT CALLBACK ClientPushWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ClientPush* clientPush = ClientPush::getInstance();
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      closeListener(clientPush, window);
      return 0;
    case WM_COMMAND:
      if (lParam == 1) {
        sharedLog()->info("CP PIM WM_COMMAND setFlag %i", static_cast<int>(wParam));
        clientPush->setFlag(flagNumberOf(wParam));
      } else {
        sharedLog()->info("CP PIM WM_COMMAND resetFlag %i", static_cast<int>(wParam));
        clientPush->resetFlag(flagNumberOf(wParam));
      }
      return 0;
    case PIM_ITEM_CREATED_LOCAL:
    case PIM_ITEM_DELETED_LOCAL:
    case PIM_ITEM_CHANGED_LOCAL:
      return 0;
    case PIM_ITEM_CREATED_REMOTE:
    case PIM_ITEM_DELETED_REMOTE:
    case PIM_ITEM_CHANGED_REMOTE:
      setPIMModifications(clientPush, folderIdOf(lParam));
      sharedLog()->debug("CP: Item is %lu", static_cast<unsigned long>(wParam));
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
