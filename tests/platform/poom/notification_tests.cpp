#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/pimstore.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using PimNotificationTest = ce::test::DeviceTest;

constexpr UINT kMarker = WM_APP + 1;

struct Received {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Received&) const = default;
};
std::vector<Received> received;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) received.push_back(Received{window, message, wParam, lParam});
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow() {
  WNDCLASSW cls{};
  cls.lpfnWndProc = recordingProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"PimNotificationTestWindow";
  if (!RegisterClassW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  return CreateWindowExW(0, cls.lpszClassName, nullptr, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                         cls.hInstance, nullptr);
}

void pumpUntilIdle() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

bool pumpUntilMarker() {
  return ce::test::waitFor([] {
    pumpUntilIdle();
    return !received.empty() && received.back().message == kMarker;
  });
}

// The listener's own sequence, minus the error paths; null when any step failed.
IPOutlookApp2* logOnAndSubscribe(HWND window, int folderId, ULONG mode) {
  void* object = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IPOutlookApp2, &object)))
    return nullptr;
  auto* app = static_cast<IPOutlookApp2*>(object);
  IFolder* folder = nullptr;
  IItem* item = nullptr;
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = mode;
  bool ok = SUCCEEDED(app->Logon(reinterpret_cast<long>(window))) &&
            SUCCEEDED(app->GetDefaultFolder(folderId, &folder)) &&
            SUCCEEDED(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item))) &&
            item->SetProps(0, 1, &value) == S_OK;
  if (item) item->Release();
  if (folder) folder->Release();
  if (!ok) {
    app->Release();
    return nullptr;
  }
  return app;
}

// Runs `body` in a child process of the device; its result is the exit code.
template <typename Body>
pid_t inChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int exitCodeOf(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

WPARAM asWParam(DWORD oid) { return static_cast<WPARAM>(oid); }

TEST_F(PimNotificationTest, RemoteChangesReachTheSubscribedWindowUntilLogoff) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  HWND window = makeWindow();
  ASSERT_NE(window, nullptr);
  IPOutlookApp2* app = logOnAndSubscribe(window, olFolderContacts, PIMFOLDERNOTIFICATION_REMOTE);
  ASSERT_NE(app, nullptr);

  // Our own changes are local: a remote-only subscription hears nothing of them.
  DWORD contact = 0, appointment = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann", contact));
  ASSERT_TRUE(ce::pim::addItem(olFolderCalendar, "Dentist", appointment));
  pumpUntilIdle();
  EXPECT_TRUE(received.empty());

  pid_t child = inChild([&] {
    DWORD added = 0;
    bool ok = ce::pim::changeItem(appointment, std::string("Dentist at 9")) &&  // not subscribed
              ce::pim::changeItem(contact, std::string("Ann Example")) &&
              ce::pim::addItem(olFolderContacts, "Bob", added) && added == contact + 2 &&
              ce::pim::deleteItem(contact);
    return ok && PostMessageW(window, kMarker, 0, 0) ? 0 : 1;
  });
  ASSERT_EQ(exitCodeOf(child), 0);
  ASSERT_TRUE(pumpUntilMarker());
  std::vector<Received> expected = {
      {window, PIM_ITEM_CHANGED_REMOTE, asWParam(contact), olFolderContacts},
      {window, PIM_ITEM_CREATED_REMOTE, asWParam(contact + 2), olFolderContacts},
      {window, PIM_ITEM_DELETED_REMOTE, asWParam(contact), olFolderContacts},
      {window, kMarker, 0, 0},
  };
  EXPECT_EQ(received, expected);

  ASSERT_EQ(app->Logoff(), S_OK);
  received.clear();
  child = inChild([&] {
    return ce::pim::changeItem(contact + 2) && PostMessageW(window, kMarker, 0, 0) ? 0 : 1;
  });
  ASSERT_EQ(exitCodeOf(child), 0);
  ASSERT_TRUE(pumpUntilMarker());
  EXPECT_EQ(received, (std::vector<Received>{{window, kMarker, 0, 0}}));
  app->Release();
  CoUninitialize();
}

TEST_F(PimNotificationTest, EachModeHearsOnlyItsOwnKindOfChange) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  HWND remoteOnly = makeWindow(), localOnly = makeWindow(), all = makeWindow();
  IPOutlookApp2* apps[] = {
      logOnAndSubscribe(remoteOnly, olFolderTasks, PIMFOLDERNOTIFICATION_REMOTE),
      logOnAndSubscribe(localOnly, olFolderTasks, PIMFOLDERNOTIFICATION_LOCAL),
      logOnAndSubscribe(all, olFolderTasks, PIMFOLDERNOTIFICATION_ALL),
  };
  for (auto* app : apps) ASSERT_NE(app, nullptr);

  DWORD task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "Call Ann", task));
  pumpUntilIdle();
  std::vector<Received> local = {
      {localOnly, PIM_ITEM_CREATED_LOCAL, asWParam(task), olFolderTasks},
      {all, PIM_ITEM_CREATED_LOCAL, asWParam(task), olFolderTasks},
  };
  EXPECT_EQ(received, local);

  received.clear();
  pid_t child = inChild([&] {
    return ce::pim::changeItem(task) && ce::pim::deleteItem(task) &&
                   PostMessageW(remoteOnly, kMarker, 0, 0)
               ? 0
               : 1;
  });
  ASSERT_EQ(exitCodeOf(child), 0);
  ASSERT_TRUE(pumpUntilMarker());
  std::vector<Received> remote = {
      {remoteOnly, PIM_ITEM_CHANGED_REMOTE, asWParam(task), olFolderTasks},
      {all, PIM_ITEM_CHANGED_REMOTE, asWParam(task), olFolderTasks},
      {remoteOnly, PIM_ITEM_DELETED_REMOTE, asWParam(task), olFolderTasks},
      {all, PIM_ITEM_DELETED_REMOTE, asWParam(task), olFolderTasks},
      {remoteOnly, kMarker, 0, 0},
  };
  EXPECT_EQ(received, remote);

  for (auto* app : apps) {
    app->Logoff();
    app->Release();
  }
  CoUninitialize();
}

TEST_F(PimNotificationTest, SubscriptionsOfGoneWindowsEndAtTheNextChange) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  // A subscriber that dies without logging off.
  pid_t child = inChild([&] {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    HWND window = makeWindow();
    if (!window || !logOnAndSubscribe(window, olFolderContacts, PIMFOLDERNOTIFICATION_REMOTE))
      return 2;
    char one = 1;
    if (write(ready[1], &one, 1) != 1) return 3;
    kill(getpid(), SIGKILL);
    return 4;
  });
  close(ready[1]);
  char one = 0;
  ASSERT_EQ(read(ready[0], &one, 1), 1);
  close(ready[0]);
  ASSERT_EQ(exitCodeOf(child), 128 + SIGKILL);

  std::vector<ce::pim::Subscription> subscriptions;
  ASSERT_TRUE(ce::pim::listSubscriptions(subscriptions));
  ASSERT_EQ(subscriptions.size(), 1u);
  EXPECT_EQ(subscriptions[0].pid, static_cast<int>(child));

  // And one of our own windows destroyed while still subscribed.
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  HWND window = makeWindow();
  IPOutlookApp2* app = logOnAndSubscribe(window, olFolderContacts, PIMFOLDERNOTIFICATION_ALL);
  ASSERT_NE(app, nullptr);
  ASSERT_TRUE(DestroyWindow(window));

  DWORD contact = 0;
  ce::pim::Result added = ce::pim::addItem(olFolderContacts, "Ann", contact);
  ASSERT_TRUE(added) << added.message;
  EXPECT_EQ(added.undelivered, 0);
  ASSERT_TRUE(ce::pim::listSubscriptions(subscriptions));
  EXPECT_TRUE(subscriptions.empty());
  app->Release();
  CoUninitialize();
}

}  // namespace
