// PIM notifications to subscribed windows, and the change tokens committed with each change.
#include <signal.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing.h"
#include "tests/platform/poom/poom_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using ce::test::exitCodeInChild;
using ce::test::logOnAndSubscribe;
using ce::test::pumpUntilIdle;
using PimNotificationTest = ce::test::PoomTest;
using ChangeTokenTest = ce::test::PoomTest;

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

std::map<int, long long> tokens() {
  std::map<int, long long> all;
  for (int folder : {olFolderCalendar, olFolderContacts, olFolderTasks})
    EXPECT_TRUE(ce::pim::readChangeToken(folder, all[folder]));
  return all;
}

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

TEST_F(ChangeTokenTest, EveryCommittedChangeRaisesItsOwnFolderTokenOnly) {
  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 0}, {10, 0}, {13, 0}}));
  DWORD task = 0, contact = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "milk", task));
  ASSERT_TRUE(ce::pim::changeItem(task, "more milk"));
  ASSERT_TRUE(ce::pim::changeItem(task));
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann", contact));
  ASSERT_TRUE(ce::pim::deleteItem(contact));
  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 0}, {10, 2}, {13, 3}}));

  // Refused changes commit nothing and raise nothing.
  EXPECT_FALSE(ce::pim::deleteItem(contact));
  EXPECT_FALSE(ce::pim::changeItem(task, std::string("bad\0nul", 7)));
  DWORD none = 0;
  EXPECT_FALSE(ce::pim::addItem(42, "nowhere", none));
  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 0}, {10, 2}, {13, 3}}));
  long long token = 0;
  EXPECT_EQ(ce::pim::readChangeToken(42, token).status, ce::pim::Status::badFolder);
}

// The token and the item are one commit: when the commit fails both stay as they were, and
// a subscriber hears of a change only once it is committed.
TEST_F(ChangeTokenTest, AFailedCommitRaisesNothingAndNotifiesNobody) {
  HWND window = makeWindow();
  IPOutlookApp2* app = ce::test::logOnAndSubscribe(window, olFolderTasks,
                                                   PIMFOLDERNOTIFICATION_LOCAL);
  ASSERT_NE(app, nullptr);

  DWORD task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "milk", task));
  pumpUntilIdle();
  EXPECT_EQ(received, (std::vector<Received>{{window, PIM_ITEM_CREATED_LOCAL, task, olFolderTasks}}));

  received.clear();
  ce::testing::setFailPoint("PimStoreCommit", 0, 0, 3);
  DWORD other = 0;
  EXPECT_EQ(ce::pim::addItem(olFolderTasks, "bread", other).status,
            ce::pim::Status::storeFailed);
  EXPECT_EQ(ce::pim::changeItem(task, "eggs").status, ce::pim::Status::storeFailed);
  EXPECT_EQ(ce::pim::deleteItem(task).status, ce::pim::Status::storeFailed);
  pumpUntilIdle();
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(tokens()[olFolderTasks], 1);
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items, olFolderTasks));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "milk");

  // The store is usable again once commits succeed.
  ASSERT_TRUE(ce::pim::deleteItem(task));
  pumpUntilIdle();
  EXPECT_EQ(received, (std::vector<Received>{{window, PIM_ITEM_DELETED_LOCAL, task, olFolderTasks}}));
  EXPECT_EQ(tokens()[olFolderTasks], 2);
  app->Release();
}

// A store written before the tokens existed keeps its items and gains the tokens at 0.
TEST_F(ChangeTokenTest, AnOlderStoreGainsTokensAndKeepsItsItems) {
  const char* older =
      "CREATE TABLE items(oid INTEGER PRIMARY KEY AUTOINCREMENT,"
      "  folder INTEGER NOT NULL CHECK (folder IN (9, 10, 13)), subject TEXT NOT NULL,"
      "  modified INTEGER NOT NULL);"
      "CREATE INDEX items_by_folder ON items(folder, oid);"
      "CREATE TABLE subscriptions(window INTEGER NOT NULL, folder INTEGER NOT NULL,"
      "  mode INTEGER NOT NULL, pid INTEGER NOT NULL, PRIMARY KEY (window, folder)) WITHOUT ROWID;"
      "CREATE INDEX subscriptions_by_folder ON subscriptions(folder);"
      "INSERT INTO items(folder, subject, modified) VALUES (13, 'old task', 1);"
      "PRAGMA user_version=1;";
  ASSERT_EQ(ce::test::sqlExec(ce::systemDir() + "/pim.db", older), SQLITE_OK);

  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 0}, {10, 0}, {13, 0}}));
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "old task");
  ASSERT_TRUE(ce::pim::changeItem(items[0].oid, "new task"));
  EXPECT_EQ(tokens()[olFolderTasks], 1);

  // Upgraded once: a new connection opens it as it is.
  ce::testing::reset();
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(tokens()[olFolderTasks], 1);
}

}  // namespace
