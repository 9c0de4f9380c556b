// The listener's life: configure the log, open the configuration, create the four hidden
// windows, log on to POOM, subscribe the six sources, record what changed while the
// listener was not running, run the loop, clean up.
#include "listener/startup.h"

#include "clientlib/mainclient.h"
#include "config/dm_tree.h"
#include "config/management_node.h"
#include "recording/change_recording.h"
#include "recording/client_push.h"
#include "recording/offline_changes.h"
#include "listener/push_window.h"
#include "textcore/log.h"
#include "watchers/folder_registration.h"
#include "watchers/folder_windows.h"

namespace {

const char* const configurationContext = "Quillbex/SyncclientPIM";

// Window and class names, and the order in which they are created.
struct PushWindowClass {
  WNDCLASS ClientPush::*record;
  HWND ClientPush::*window;
  WNDPROC procedure;
  LPCWSTR name;
};
const PushWindowClass pushWindowClasses[] = {
    {&ClientPush::pushClass, &ClientPush::pushWindow, ClientPushWndProc, L"ClientPushWindow"},
    {&ClientPush::briefcaseClass, &ClientPush::briefcaseWindow, BriefcaseWndProc,
     L"ClientPushWindowBriefcase"},
    {&ClientPush::notesClass, &ClientPush::notesWindow, NotesWndProc, L"ClientPushWindowNotes"},
    {&ClientPush::pictureClass, &ClientPush::pictureWindow, PictureWndProc,
     L"ClientPushWindowPicture"},
};

// Subscribes the three POOM folders and registers the three watched folders, always in
// this order; a failure never stops the others.
void subscribeSources(ClientPush* clientPush) {
  Log* log = sharedLog();
  log->debug("CP: Subscription of Contact folder...");
  if (subscribePimFolder(clientPush->outlookApp, pimContacts, PIMFOLDERNOTIFICATION_REMOTE) == S_OK)
    log->info("CP: Contact folder subscribed.");
  log->debug("CP: Subscription of Calendar folder...");
  if (subscribePimFolder(clientPush->outlookApp, pimCalendar, PIMFOLDERNOTIFICATION_REMOTE) == S_OK)
    log->info("CP: Calendar folder subscribed.");
  log->info("CP: Subscription of Task folder...");
  if (subscribePimFolder(clientPush->outlookApp, pimTasks, PIMFOLDERNOTIFICATION_REMOTE) == S_OK)
    log->info("CP: Task folder subscribed.");
  log->info("CP: Subscription of Briefcase folder...");
  registerFolderNotification(clientPush, WatchedFolder::briefcase);
  log->info("CP: Briefcase folder subscribed.");
  log->info("CP: Subscription of Notes folder...");
  registerFolderNotification(clientPush, WatchedFolder::notes);
  log->info("CP: Notes folder subscribed.");
  log->info("CP: Subscription of Picture folder...");
  registerFolderNotification(clientPush, WatchedFolder::picture);
  log->info("CP: Piacture folder subscribed.");
}

// Opens the configuration, creates the windows, logs on to POOM and runs the loop. Returns
// the negative result of createPushWindows, or 0 to go on to the clean-up.
int startAndRun(ClientPush* clientPush, HINSTANCE moduleInstance) {
  Log* log = sharedLog();
  clientPush->dmt = createTree(configurationContext);
  if (!clientPush->dmt) {
    log->error("CP: dmt is wrong!!!");
    return 0;
  }
  clientPush->node = clientPush->dmt->readManagementNode(configurationContext);
  if (!clientPush->node) {
    log->error("CP: node is wrong!!!");
    return 0;
  }
  loadPushConfig(clientPush);
  int created = createPushWindows(clientPush, moduleInstance);
  if (created < 0) {
    log->error("CP: Error in creating the push class. Exit...");
    return created;
  }
  log->info("CP: Client push class created");
  log->debug("Init Poom");
  HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(result)) result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(result)) return 0;
  result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp2,
                            reinterpret_cast<LPVOID*>(&clientPush->outlookApp));
  if (FAILED(result) || !clientPush->outlookApp) return 0;
  log->debug("CP: Log on the IPOutlookApp2 interface");
  // A window handle's significant bits fit in a long on every Windows, 64-bit too.
  long window = static_cast<long>(reinterpret_cast<LONG_PTR>(clientPush->pushWindow));
  if (FAILED(clientPush->outlookApp->Logon(window))) return 0;
  subscribeSources(clientPush);
  recordChangesWhileStopped(clientPush);
  log->info("CP: Init waiting PIM notification messages...");
  runMessageLoop(clientPush);
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  Log* log = sharedLog();
  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  log->setLevel(getLOGLevel());
  ClientPush::getInstance();
  HINSTANCE moduleInstance = GetModuleHandleW(nullptr);
  runClientPush(moduleInstance);
  return 0;
}

int runClientPush(HINSTANCE moduleInstance) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
  ClientPush* clientPush = ClientPush::getInstance();
  try {
    int result = startAndRun(clientPush, moduleInstance);
    // A window that could not be created ends the process at once, without clean-up.
    if (result < 0) return result;
  } catch (...) {
    sharedLog()->error("CP: Generic error in client Push: Error = 0x%x", GetLastError());
  }
  if (clientPush->outlookApp) {
    clientPush->outlookApp->Logoff();
    clientPush->outlookApp->Release();
    clientPush->outlookApp = nullptr;
  }
  CoUninitialize();
  UnregisterClassW(L"ClientPushWindow", moduleInstance);
  return 0;
}

int createPushWindows(ClientPush* clientPush, HINSTANCE moduleInstance) {
  int result = 0;
  for (const PushWindowClass& entry : pushWindowClasses) {
    int registered = registerPushWindow(&(clientPush->*entry.record), entry.procedure, entry.name,
                                        moduleInstance, &(clientPush->*entry.window));
    if (registered < 0) result = registered;
  }
  return result;
}

int registerPushWindow(WNDCLASS* classRecord, WNDPROC windowProcedure, LPCWSTR className,
                       HINSTANCE moduleInstance, HWND* windowHandle) {
  classRecord->style = 0;
  classRecord->lpfnWndProc = windowProcedure;
  classRecord->cbClsExtra = 0;
  classRecord->cbWndExtra = 0;
  classRecord->hInstance = moduleInstance;
  classRecord->hIcon = nullptr;
  classRecord->hCursor = nullptr;
  classRecord->hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  classRecord->lpszMenuName = nullptr;
  classRecord->lpszClassName = className;
  SetLastError(0);
  if (RegisterClassW(classRecord)) {
    *windowHandle = CreateWindowExW(0, className, nullptr, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                                    moduleInstance, nullptr);
    return 0;
  }
  DWORD error = GetLastError();
  if (error == ERROR_CLASS_ALREADY_EXISTS) {
    sharedLog()->error("Failed to registed class. Error = 0x%x", error);
    return 1;
  }
  return -1;
}

HRESULT subscribePimFolder(IPOutlookApp2* outlookApp, int folderKind, ULONG mode) {
  if (!outlookApp) return E_FAIL;
  if (mode == 0) return E_INVALIDARG;
  int folderId = folderKind == pimCalendar   ? olFolderCalendar
                 : folderKind == pimContacts ? olFolderContacts
                 : folderKind == pimTasks    ? olFolderTasks
                                             : 0;
  IFolder* folder = nullptr;
  IItem* item = nullptr;
  HRESULT result = outlookApp->GetDefaultFolder(folderId, &folder);
  if (SUCCEEDED(result) && !folder) result = E_FAIL;
  if (SUCCEEDED(result)) {
    result = folder->QueryInterface(IID_IItem, reinterpret_cast<LPVOID*>(&item));
    if (SUCCEEDED(result) && !item) result = E_FAIL;
  }
  if (SUCCEEDED(result)) {
    CEPROPVAL property{};
    property.propid = PIMPR_FOLDERNOTIFICATIONS;
    property.wLenData = 0;
    property.wFlags = 0;
    property.val.ulVal = mode;
    result = item->SetProps(0, 1, &property);
  }
  if (item) item->Release();
  if (folder) folder->Release();
  return result;
}

// While a change waits to be written or scheduled, a thread timer ticks; its tick, like any
// change (which folds the waiting bits into its own write), tries again.
void runMessageLoop(ClientPush* clientPush, UINT retryIntervalMs) {
  UINT_PTR retryTimer = 0;
  MSG message;
  // GetMessageW reports an error as -1: that ends the loop rather than spinning on it.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!message.hwnd && message.message == WM_TIMER && retryTimer &&
        message.wParam == retryTimer) {
      retryUnrecordedChanges(clientPush);
    } else {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    bool waiting = hasUnrecordedChanges(clientPush);
    if (waiting && !retryTimer) {
      retryTimer = SetTimer(nullptr, 0, retryIntervalMs, nullptr);
    } else if (!waiting && retryTimer) {
      KillTimer(nullptr, retryTimer);
      retryTimer = 0;
    }
  }
  if (retryTimer) KillTimer(nullptr, retryTimer);
}
