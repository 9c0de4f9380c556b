// The PIM object model and its store: IPOutlookApp2's logon, folders and subscriptions, the
// changes tools make through ce::pim, the notifications they post (local to this process's
// windows, remote to those of another process, as each window's mode asks), the change
// tokens, and what Logoff, Release and a destroyed window end. Both sides are ours (desktop
// Windows has no such store): the Linux emulation and the Windows-side library judge each
// other. Remote changes are made by a second run of this program ("child-change").
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/pimstore.h"
#include "platform/windows.h"
#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif

using conformance::answer;
using conformance::answerText;

namespace {

const WCHAR* const kClass = L"ConformancePimWindow";

int thisProcess() {
#ifdef _WIN32
  return static_cast<int>(GetCurrentProcessId());
#else
  return static_cast<int>(getpid());
#endif
}
std::vector<std::string> received;

const char* messageName(UINT message) {
  switch (message) {
    case PIM_ITEM_CREATED_LOCAL: return "created local";
    case PIM_ITEM_DELETED_LOCAL: return "deleted local";
    case PIM_ITEM_CHANGED_LOCAL: return "changed local";
    case PIM_ITEM_CREATED_REMOTE: return "created remote";
    case PIM_ITEM_DELETED_REMOTE: return "deleted remote";
    case PIM_ITEM_CHANGED_REMOTE: return "changed remote";
    default: return nullptr;
  }
}

HWND firstWindow, secondWindow;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const char* name = messageName(message)) {
    char line[96];
    std::snprintf(line, sizeof line, "%s %s oid %lu folder %ld",
                  window == firstWindow ? "first" : window == secondWindow ? "second" : "other",
                  name, static_cast<unsigned long>(wParam), static_cast<long>(lParam));
    received.push_back(line);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Everything already queued, dispatched; then the notifications received, joined.
std::string drained() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  std::string out;
  for (const std::string& line : received) out += (out.empty() ? "" : "; ") + line;
  received.clear();
  return out.empty() ? "(none)" : out;
}

// Dispatches until `count` notifications have come, five seconds at most.
std::string waitForNotifications(size_t count) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  SetTimer(firstWindow, 1, 20, nullptr);
  while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
    MSG message;
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    DispatchMessageW(&message);
  }
  KillTimer(firstWindow, 1);
  return drained();
}

const char* statusName(ce::pim::Status status) {
  switch (status) {
    case ce::pim::Status::ok: return "ok";
    case ce::pim::Status::noSuchItem: return "no such item";
    case ce::pim::Status::badFolder: return "bad folder";
    case ce::pim::Status::badSubject: return "bad subject";
    case ce::pim::Status::storeFailed: return "store failed";
  }
  return "?";
}

std::string outcome(const ce::pim::Result& result) {
  return std::string(statusName(result.status)) +
         (result.undelivered ? " undelivered " + std::to_string(result.undelivered) : "");
}

std::string hresult(HRESULT result) {
  char text[16];
  // HRESULT is 32 bits on Windows, a long here: its 32 bits are what compare.
  std::snprintf(text, sizeof text, "%08lx",
                static_cast<unsigned long>(static_cast<uint32_t>(result)));
  return text;
}

CEPROPVAL notifications(DWORD mode) {
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = mode;
  return value;
}

// Sets the folder's notification mode through its IItem.
std::string subscribe(IPOutlookApp2* app, int folderId, DWORD mode) {
  IFolder* folder = nullptr;
  HRESULT result = app->GetDefaultFolder(folderId, &folder);
  if (FAILED(result)) return "GetDefaultFolder " + hresult(result);
  IItem* item = nullptr;
  result = folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item));
  folder->Release();
  if (FAILED(result)) return "QueryInterface " + hresult(result);
  CEPROPVAL value = notifications(mode);
  result = item->SetProps(0, 1, &value);
  item->Release();
  return hresult(result);
}

std::string subscriptions() {
  std::vector<ce::pim::Subscription> all;
  ce::pim::Result result = ce::pim::listSubscriptions(all);
  if (!result) return outcome(result);
  std::string out;
  const int self = thisProcess();
  for (const ce::pim::Subscription& s : all) {
    char line[96];
    std::snprintf(line, sizeof line, "%s folder %d mode %lu%s",
                  s.window == firstWindow    ? "first"
                  : s.window == secondWindow ? "second"
                                             : "other",
                  s.folder, static_cast<unsigned long>(s.mode), s.pid == self ? "" : " (other pid)");
    out += (out.empty() ? "" : "; ") + std::string(line);
  }
  return out.empty() ? "(none)" : out;
}

std::string tokens() {
  std::string out;
  for (int folder : {olFolderCalendar, olFolderContacts, olFolderTasks}) {
    long long token = -1;
    ce::pim::Result result = ce::pim::readChangeToken(folder, token);
    out += (out.empty() ? "" : " ") + std::to_string(folder) + "=" +
           (result ? std::to_string(token) : outcome(result));
  }
  return out;
}

std::string items() {
  std::vector<ce::pim::Item> all;
  ce::pim::Result result = ce::pim::listItems(all);
  if (!result) return outcome(result);
  std::string out;
  for (const ce::pim::Item& item : all)
    out += (out.empty() ? "" : "; ") + std::to_string(item.oid) + " " +
           std::to_string(item.folder) + " " + item.subject;
  return out.empty() ? "(none)" : out;
}

// The second process: one change of each kind in the three folders, then it ends.
int childChanges() {
  DWORD contact = 0, appointment = 0, task = 0;
  ce::pim::addItem(olFolderContacts, "Remote contact", contact);
  ce::pim::addItem(olFolderCalendar, "Remote appointment", appointment);
  ce::pim::addItem(olFolderTasks, "Remote task", task);
  ce::pim::changeItem(contact, std::string("Remote contact, changed"));
  ce::pim::deleteItem(appointment);
  return 0;
}

// Runs this program again as the second process and waits for its end; its exit code.
int runChild(const char* self) {
#ifdef _WIN32
  (void)self;
  WCHAR path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(path) + L"\" child-change";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
#else
  char arg0[4096];
  std::snprintf(arg0, sizeof arg0, "%s", self);
  char arg1[] = "child-change";
  char* argv[] = {arg0, arg1, nullptr};
  pid_t pid;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

HWND makeWindow(HINSTANCE instance, const WCHAR* title) {
  return CreateWindowExW(0, kClass, title, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance,
                         nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "child-change") == 0) return childChanges();
#ifdef _WIN32
  conformance::removeTree(L"\\conf_pim_home");
  SetEnvironmentVariableW(L"CE_DEVICE_HOME", L"C:\\conf_pim_home");
#endif
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClass;
  RegisterClassW(&windowClass);
  firstWindow = makeWindow(instance, L"first");
  secondWindow = makeWindow(instance, L"second");
  drained();

  // The listener's own sequence.
  answerText("CoInitializeEx multithreaded", hresult(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  IPOutlookApp2* app = nullptr;
  answerText("CoCreateInstance", hresult(CoCreateInstance(CLSID_Application, nullptr,
                                                          CLSCTX_INPROC_SERVER, IID_IPOutlookApp2,
                                                          reinterpret_cast<void**>(&app))));
  if (!app) return 1;
  IFolder* folder = nullptr;
  answerText("GetDefaultFolder before Logon", hresult(app->GetDefaultFolder(olFolderContacts, &folder)));
  answerText("Logoff before Logon", hresult(app->Logoff()));
  long handle = static_cast<long>(reinterpret_cast<LONG_PTR>(firstWindow));
  answerText("Logon", hresult(app->Logon(handle)));
  answerText("Logon again", hresult(app->Logon(handle)));
  answerText("GetDefaultFolder 5", hresult(app->GetDefaultFolder(5, &folder)));
  answerText("GetDefaultFolder null", hresult(app->GetDefaultFolder(olFolderContacts, nullptr)));
  answerText("GetDefaultFolder contacts", hresult(app->GetDefaultFolder(olFolderContacts, &folder)));
  if (folder) {
    void* other = nullptr;
    answerText("QueryInterface IPOutlookApp2 on a folder",
               hresult(folder->QueryInterface(IID_IPOutlookApp2, &other)));
    IItem* item = nullptr;
    answerText("QueryInterface IItem", hresult(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item))));
    if (item) {
      CEPROPVAL values[2] = {notifications(PIMFOLDERNOTIFICATION_ALL), notifications(4)};
      answerText("SetProps with a mode out of range", hresult(item->SetProps(0, 2, values)));
      values[1].propid = 0x10020013;
      answerText("SetProps with an unknown property", hresult(item->SetProps(0, 2, values)));
      answerText("SetProps null values", hresult(item->SetProps(0, 1, nullptr)));
      answerText("subscriptions after refused SetProps", subscriptions());
      item->Release();
    }
    folder->Release();
  }
  answerText("subscribe contacts to all", subscribe(app, olFolderContacts, PIMFOLDERNOTIFICATION_ALL));
  answerText("subscribe calendar to remote", subscribe(app, olFolderCalendar, PIMFOLDERNOTIFICATION_REMOTE));
  answerText("subscribe tasks to local", subscribe(app, olFolderTasks, PIMFOLDERNOTIFICATION_LOCAL));
  answerText("subscriptions", subscriptions());
  answerText("change tokens at first", tokens());

  // Local changes: this process's own window, as its modes ask.
  DWORD contact = 0, appointment = 0, task = 0;
  answerText("add contact", outcome(ce::pim::addItem(olFolderContacts, "Ann", contact)));
  answerText("add appointment", outcome(ce::pim::addItem(olFolderCalendar, "Meeting", appointment)));
  answerText("add task", outcome(ce::pim::addItem(olFolderTasks, "Call back", task)));
  answer("object ids", "%lu %lu %lu", static_cast<unsigned long>(contact),
         static_cast<unsigned long>(appointment), static_cast<unsigned long>(task));
  answerText("change contact", outcome(ce::pim::changeItem(contact, std::string("Ann B."))));
  answerText("touch task", outcome(ce::pim::changeItem(task)));
  answerText("delete appointment", outcome(ce::pim::deleteItem(appointment)));
  answerText("local notifications", drained());
  answerText("change tokens after local changes", tokens());

  // Remote changes: another process's, to this process's window.
  answer("second process", "%d", runChild(argv[0]));
  answerText("remote notifications", waitForNotifications(4));
  answerText("items after both", items());
  answerText("change tokens after remote changes", tokens());

  // Refusals leave the store as it was.
  DWORD refused = 0;
  answerText("add to folder 7", outcome(ce::pim::addItem(7, "x", refused)));
  answerText("add invalid UTF-8", outcome(ce::pim::addItem(olFolderContacts, "\xff\xfe", refused)));
  answerText("add with a NUL", outcome(ce::pim::addItem(olFolderContacts, std::string("a\0b", 3), refused)));
  answerText("change a missing item", outcome(ce::pim::changeItem(999)));
  answerText("delete a missing item", outcome(ce::pim::deleteItem(999)));
  answerText("delete a deleted item", outcome(ce::pim::deleteItem(appointment)));
  std::vector<ce::pim::Item> listed;
  answerText("list folder 8", outcome(ce::pim::listItems(listed, 8)));
  long long token = 0;
  answerText("token of folder 7", outcome(ce::pim::readChangeToken(7, token)));
  answerText("change tokens after refusals", tokens());
  answerText("notifications after refusals", drained());
  std::vector<ce::pim::Item> contacts;
  ce::pim::listItems(contacts, olFolderContacts);
  answer("contacts listed", "%lu", static_cast<unsigned long>(contacts.size()));

  // A second application object for a second window; the first logs off.
  IPOutlookApp2* second = nullptr;
  CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp2,
                   reinterpret_cast<void**>(&second));
  if (!second) return 1;
  answerText("second Logon", hresult(second->Logon(static_cast<long>(reinterpret_cast<LONG_PTR>(secondWindow)))));
  answerText("second subscribes contacts", subscribe(second, olFolderContacts, PIMFOLDERNOTIFICATION_LOCAL));
  answerText("first Logoff", hresult(app->Logoff()));
  answerText("Logoff again", hresult(app->Logoff()));
  answerText("subscriptions after Logoff", subscriptions());
  DWORD late = 0;
  ce::pim::addItem(olFolderContacts, "Late", late);
  answerText("notifications after Logoff", drained());
  answerText("mode 0 ends a subscription", subscribe(second, olFolderContacts, 0));
  answerText("subscriptions after mode 0", subscriptions());

  // A window destroyed without Logoff: its subscription is found gone.
  subscribe(second, olFolderTasks, PIMFOLDERNOTIFICATION_ALL);
  DestroyWindow(secondWindow);
  std::vector<ce::pim::Subscription> ended;
  ce::pim::Result swept = ce::pim::endSubscriptionsOfGoneWindows(ended);
  answer("ended subscriptions of gone windows", "%s %lu folder %d", outcome(swept).c_str(),
         static_cast<unsigned long>(ended.size()), ended.empty() ? 0 : ended.front().folder);
  answerText("subscriptions after the sweep", subscriptions());

  // Release without Logoff ends the object's subscriptions.
  answerText("first Logon again", hresult(app->Logon(handle)));
  subscribe(app, olFolderTasks, PIMFOLDERNOTIFICATION_ALL);
  answerText("subscriptions before Release", subscriptions());
  app->Release();
  second->Release();
  answerText("subscriptions after Release", subscriptions());
  CoUninitialize();
  DestroyWindow(firstWindow);
#ifdef _WIN32
  conformance::removeTree(L"\\conf_pim_home");
#endif
  return 0;
}
