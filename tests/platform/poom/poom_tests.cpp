#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing.h"
#include "tests/platform/poom/poom_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using ce::test::createApplication;
using ce::test::folderItem;
using ce::test::notificationsProp;
using PoomTest = ce::test::PoomTest;

HWND const someWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(0x12345));
const long logonWindow = reinterpret_cast<long>(someWindow);

std::vector<ce::pim::Subscription> subscriptions() {
  std::vector<ce::pim::Subscription> all;
  EXPECT_TRUE(ce::pim::listSubscriptions(all));
  return all;
}

long long ticks(const FILETIME& ft) {
  return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
}

TEST_F(PoomTest, ListenerStartUpSequenceSubscribesTheLogonWindow) {
  IPOutlookApp2* app = createApplication();
  ASSERT_NE(app, nullptr);
  ASSERT_EQ(app->Logon(logonWindow), S_OK);
  for (int folderId : {olFolderContacts, olFolderCalendar, olFolderTasks}) {
    IItem* item = folderItem(app, folderId);
    ASSERT_NE(item, nullptr);
    CEPROPVAL value = notificationsProp(PIMFOLDERNOTIFICATION_REMOTE);
    EXPECT_EQ(item->SetProps(0, 1, &value), S_OK);
    item->Release();
  }

  auto recorded = subscriptions();
  ASSERT_EQ(recorded.size(), 3u);
  const int folders[] = {olFolderCalendar, olFolderContacts, olFolderTasks};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(recorded[i].folder, folders[i]);
    EXPECT_EQ(recorded[i].window, someWindow);
    EXPECT_EQ(recorded[i].mode, static_cast<DWORD>(PIMFOLDERNOTIFICATION_REMOTE));
    EXPECT_EQ(recorded[i].pid, static_cast<int>(getpid()));
  }
  EXPECT_EQ(app->Logoff(), S_OK);
  EXPECT_TRUE(subscriptions().empty());
  EXPECT_EQ(app->Logoff(), E_FAIL);  // not logged on any more
  EXPECT_EQ(app->Release(), 0u);
}

// Only what the listener can meet: a folder the device lacks, and a logon without a window.
TEST_F(PoomTest, FoldersTheDeviceLacksAndWindowlessLogonsAreRefused) {
  IPOutlookApp2* app = createApplication();
  IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);  // before Logon
  EXPECT_EQ(folder, nullptr);
  ASSERT_EQ(app->Logon(0), S_OK);
  for (int bad : {0, 8, 11, 12, 14, -10}) {
    folder = reinterpret_cast<IFolder*>(0xdeadbeef);
    EXPECT_EQ(app->GetDefaultFolder(bad, &folder), E_INVALIDARG) << bad;
    EXPECT_EQ(folder, nullptr);
  }
  IItem* item = folderItem(app, olFolderCalendar);
  ASSERT_NE(item, nullptr);
  CEPROPVAL value = notificationsProp(PIMFOLDERNOTIFICATION_REMOTE);
  EXPECT_EQ(item->SetProps(0, 1, &value), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_TRUE(subscriptions().empty());
  item->Release();
  app->Release();
}

TEST_F(PoomTest, AStoreThatIsNotOursIsRefusedAndLeftUntouched) {
  std::string path = ce::systemDir() + "/pim.db";
  IPOutlookApp2* app = createApplication();
  DWORD oid = 0;
  // Junk, then a real database of something else.
  for (const char* schema : {"", "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep');"}) {
    unlink(path.c_str());
    if (*schema)
      ASSERT_EQ(ce::test::sqlExec(path, schema), SQLITE_OK);
    else
      ce::test::writeFile(path, std::string(300, '#') + " this is not a database");
    std::string before = ce::test::readFile(path);
    ce::testing::reset();  // a fresh connection
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_LT(app->Logon(logonWindow), 0);
    IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
    EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);
    EXPECT_EQ(folder, nullptr);
    ce::pim::Result added = ce::pim::addItem(olFolderContacts, "Ann", oid);
    EXPECT_EQ(added.status, ce::pim::Status::storeFailed);
    EXPECT_NE(added.message.find("pim.db"), std::string::npos) << added.message;
    EXPECT_EQ(ce::test::readFile(path), before);
  }
  app->Release();
}

TEST_F(PoomTest, ItemsAreStoredExactlyAndBadInputChangesNothing) {
  ce::testing::freezeLocalTime(SYSTEMTIME{2025, 3, 0, 14, 9, 30, 0, 0});
  DWORD contact = 0, appointment = 0, task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann Example", contact));
  ASSERT_TRUE(ce::pim::addItem(olFolderCalendar, "Dentist", appointment));
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "", task));
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 3u);
  long long created = ticks(items[0].modified);
  ASSERT_TRUE(ce::pim::listItems(items, olFolderCalendar));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].oid, appointment);

  // With the clock standing still a change still moves the modification time.
  ASSERT_TRUE(ce::pim::changeItem(contact));
  ASSERT_TRUE(ce::pim::changeItem(contact, std::string("Ann Sample \xc3\xa9")));

  // Bad input: clear status, nothing stored or changed.
  DWORD unused = 0;
  EXPECT_EQ(ce::pim::addItem(11, "x", unused).status, ce::pim::Status::badFolder);
  EXPECT_EQ(ce::pim::changeItem(contact, std::string("over\xed\xa0\x80long")).status,
            ce::pim::Status::badSubject);  // an encoded surrogate
  EXPECT_EQ(ce::pim::changeItem(contact, std::string("nul\0inside", 10)).status,
            ce::pim::Status::badSubject);
  EXPECT_EQ(ce::pim::addItem(olFolderTasks, std::string(ce::pim::maxSubjectBytes + 1, 'a'), unused)
                .status,
            ce::pim::Status::badSubject);
  ce::pim::Result missing = ce::pim::changeItem(999);
  EXPECT_EQ(missing.status, ce::pim::Status::noSuchItem);
  EXPECT_EQ(missing.message, "no item has the id 999");
  EXPECT_EQ(ce::pim::deleteItem(999).status, ce::pim::Status::noSuchItem);
  ASSERT_TRUE(ce::pim::listItems(items, olFolderContacts));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "Ann Sample \xc3\xa9");
  EXPECT_EQ(ticks(items[0].modified), created + 2);

  // Ids are never given again, not even the highest one after its deletion.
  ASSERT_TRUE(ce::pim::deleteItem(task));
  EXPECT_EQ(ce::pim::deleteItem(task).status, ce::pim::Status::noSuchItem);
  DWORD next = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "again", next));
  EXPECT_GT(next, task);
}

TEST_F(PoomTest, ProcessesThatCreateTheStoreAtOnceAllSucceed) {
  ce::systemDir();  // the device folders exist: the race is the store's own
  EXPECT_TRUE(ce::test::allAtOnce(6, [](int i) {
    DWORD oid = 0;
    return ce::pim::addItem(olFolderTasks, "task " + std::to_string(i), oid) ? 0 : 1;
  }));
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  EXPECT_EQ(items.size(), 6u);
}

}  // namespace
