#include <map>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing.h"
#include "tests/platform/poom/poom_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using ChangeTokenTest = ce::test::PoomTest;

std::map<int, long long> tokens() {
  std::map<int, long long> all;
  for (int folder : {olFolderCalendar, olFolderContacts, olFolderTasks})
    EXPECT_TRUE(ce::pim::readChangeToken(folder, all[folder]));
  return all;
}

std::vector<UINT> received;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP) received.push_back(message);
  return DefWindowProcW(window, message, wParam, lParam);
}

using ce::test::pumpUntilIdle;

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
  HWND window = ce::test::makeWindow(L"ChangeTokenTestWindow", recordingProc);
  IPOutlookApp2* app = ce::test::logOnAndSubscribe(window, olFolderTasks,
                                                   PIMFOLDERNOTIFICATION_LOCAL);
  ASSERT_NE(app, nullptr);

  DWORD task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "milk", task));
  pumpUntilIdle();
  EXPECT_EQ(received, std::vector<UINT>{PIM_ITEM_CREATED_LOCAL});

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
  EXPECT_EQ(received, std::vector<UINT>{PIM_ITEM_DELETED_LOCAL});
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
