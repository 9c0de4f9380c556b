#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/testing.h"
#include "tests/platform/poom/poom_test.h"

namespace {

using ce::test::exitCodeInChild;
using ce::test::logOnAndSubscribe;
using ce::test::pumpUntilIdle;
using PimNotificationTest = ce::test::PoomTest;

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

HWND makeWindow() { return ce::test::makeWindow(L"PimNotificationTestWindow", recordingProc); }

bool pumpUntilMarker() {
  return ce::test::waitFor([] {
    pumpUntilIdle();
    return !received.empty() && received.back().message == kMarker;
  });
}

WPARAM asWParam(DWORD oid) { return static_cast<WPARAM>(oid); }

TEST_F(PimNotificationTest, RemoteChangesReachTheSubscribedWindowUntilLogoff) {
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

  ASSERT_EQ(exitCodeInChild([&] {
              DWORD added = 0;
              bool ok = ce::pim::changeItem(appointment, std::string("at 9")) &&  // not subscribed
                        ce::pim::changeItem(contact, std::string("Ann Example")) &&
                        ce::pim::addItem(olFolderContacts, "Bob", added) &&
                        added == contact + 2 && ce::pim::deleteItem(contact);
              return ok && PostMessageW(window, kMarker, 0, 0) ? 0 : 1;
            }),
            0);
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
  ASSERT_EQ(exitCodeInChild([&] {
              return ce::pim::changeItem(contact + 2) && PostMessageW(window, kMarker, 0, 0) ? 0
                                                                                            : 1;
            }),
            0);
  ASSERT_TRUE(pumpUntilMarker());
  EXPECT_EQ(received, (std::vector<Received>{{window, kMarker, 0, 0}}));
  app->Release();
}

TEST_F(PimNotificationTest, EachModeHearsOnlyItsOwnKindOfChange) {
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
  ASSERT_EQ(exitCodeInChild([&] {
              return ce::pim::changeItem(task) && ce::pim::deleteItem(task) &&
                             PostMessageW(remoteOnly, kMarker, 0, 0)
                         ? 0
                         : 1;
            }),
            0);
  ASSERT_TRUE(pumpUntilMarker());
  std::vector<Received> remote = {
      {remoteOnly, PIM_ITEM_CHANGED_REMOTE, asWParam(task), olFolderTasks},
      {all, PIM_ITEM_CHANGED_REMOTE, asWParam(task), olFolderTasks},
      {remoteOnly, PIM_ITEM_DELETED_REMOTE, asWParam(task), olFolderTasks},
      {all, PIM_ITEM_DELETED_REMOTE, asWParam(task), olFolderTasks},
      {remoteOnly, kMarker, 0, 0},
  };
  EXPECT_EQ(received, remote);
  for (auto* app : apps) app->Release();
}

TEST_F(PimNotificationTest, SubscriptionsOfGoneWindowsEndAtTheNextChange) {
  // A subscriber that dies without logging off.
  EXPECT_EQ(exitCodeInChild([&] {
              HWND window = makeWindow();
              if (!window ||
                  !logOnAndSubscribe(window, olFolderContacts, PIMFOLDERNOTIFICATION_REMOTE))
                return 2;
              kill(getpid(), SIGKILL);
              return 4;
            }),
            128 + SIGKILL);
  std::vector<ce::pim::Subscription> subscriptions;
  ASSERT_TRUE(ce::pim::listSubscriptions(subscriptions));
  ASSERT_EQ(subscriptions.size(), 1u);
  EXPECT_NE(kill(subscriptions[0].pid, 0), 0);  // the dead child's

  // And one of our own windows destroyed while still subscribed.
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
}

}  // namespace
