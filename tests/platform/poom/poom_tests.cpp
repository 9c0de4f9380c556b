#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/pimstore.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using PoomTest = ce::test::DeviceTest;

HWND const someWindow = reinterpret_cast<HWND>(static_cast<intptr_t>(0x12345));

IPOutlookApp2* createApplication() {
  void* object = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp2,
                             &object),
            S_OK);
  return static_cast<IPOutlookApp2*>(object);
}

CEPROPVAL notificationsProp(ULONG mode) {
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = mode;
  return value;
}

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
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  IPOutlookApp2* app = createApplication();
  ASSERT_NE(app, nullptr);
  ASSERT_EQ(app->Logon(reinterpret_cast<long>(someWindow)), S_OK);

  for (int folderId : {olFolderContacts, olFolderCalendar, olFolderTasks}) {
    IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
    ASSERT_EQ(app->GetDefaultFolder(folderId, &folder), S_OK);
    IItem* item = nullptr;
    ASSERT_EQ(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item)), S_OK);
    // The folder and its IItem are one object.
    IUnknown* viaFolder = nullptr;
    IUnknown* viaItem = nullptr;
    ASSERT_EQ(folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaFolder)), S_OK);
    ASSERT_EQ(item->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaItem)), S_OK);
    EXPECT_EQ(viaFolder, viaItem);
    viaFolder->Release();
    viaItem->Release();

    CEPROPVAL value = notificationsProp(PIMFOLDERNOTIFICATION_REMOTE);
    EXPECT_EQ(item->SetProps(0, 1, &value), S_OK);
    item->Release();
    folder->Release();
  }

  auto recorded = subscriptions();
  ASSERT_EQ(recorded.size(), 3u);
  for (const auto& s : recorded) {
    EXPECT_EQ(s.window, someWindow);
    EXPECT_EQ(s.mode, static_cast<DWORD>(PIMFOLDERNOTIFICATION_REMOTE));
    EXPECT_EQ(s.pid, static_cast<int>(getpid()));
  }
  EXPECT_EQ(recorded[0].folder, olFolderCalendar);
  EXPECT_EQ(recorded[1].folder, olFolderContacts);
  EXPECT_EQ(recorded[2].folder, olFolderTasks);

  EXPECT_EQ(app->Logoff(), S_OK);
  EXPECT_TRUE(subscriptions().empty());
  EXPECT_EQ(app->Logoff(), E_FAIL);  // not logged on any more
  EXPECT_EQ(app->Release(), 0u);
  CoUninitialize();
}

TEST_F(PoomTest, EachMisuseGetsItsOwnCodeAndRecordsNothing) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  void* object = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IItem, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  IPOutlookApp2* app = createApplication();
  IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);  // before Logon
  EXPECT_EQ(folder, nullptr);
  ASSERT_EQ(app->Logon(reinterpret_cast<long>(someWindow)), S_OK);

  for (int notAFolder : {0, 8, 11, 12, 14, -10}) {
    folder = reinterpret_cast<IFolder*>(0xdeadbeef);
    EXPECT_EQ(app->GetDefaultFolder(notAFolder, &folder), E_INVALIDARG) << notAFolder;
    EXPECT_EQ(folder, nullptr);
  }

  ASSERT_EQ(app->GetDefaultFolder(olFolderTasks, &folder), S_OK);
  void* wrong = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(folder->QueryInterface(IID_IPOutlookApp2, &wrong), E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);
  IItem* item = nullptr;
  ASSERT_EQ(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item)), S_OK);

  CEPROPVAL values[2] = {notificationsProp(PIMFOLDERNOTIFICATION_REMOTE), notificationsProp(4)};
  EXPECT_EQ(item->SetProps(0, 2, values), E_INVALIDARG);  // all or nothing
  values[1] = notificationsProp(PIMFOLDERNOTIFICATION_ALL);
  values[1].propid = 0x10020013;
  EXPECT_EQ(item->SetProps(0, 2, values), E_INVALIDARG);
  EXPECT_EQ(item->SetProps(0, 1, nullptr), E_INVALIDARG);
  EXPECT_TRUE(subscriptions().empty());

  // Fail points, each once.
  ce::testing::setFailPoint("SetProps", E_FAIL, 0, 1);
  EXPECT_EQ(item->SetProps(0, 1, values), E_FAIL);
  EXPECT_TRUE(subscriptions().empty());
  EXPECT_EQ(item->SetProps(0, 1, values), S_OK);
  EXPECT_EQ(subscriptions().size(), 1u);
  // Mode 0 ends that folder's subscription.
  CEPROPVAL off = notificationsProp(0);
  EXPECT_EQ(item->SetProps(0, 1, &off), S_OK);
  EXPECT_TRUE(subscriptions().empty());

  ce::testing::setFailPoint("GetDefaultFolder", E_OUTOFMEMORY, 0, 1);
  IFolder* another = reinterpret_cast<IFolder*>(0xdeadbeef);
  EXPECT_EQ(app->GetDefaultFolder(olFolderCalendar, &another), E_OUTOFMEMORY);
  EXPECT_EQ(another, nullptr);

  // The folder keeps the application alive; once logged off, nothing can be subscribed.
  EXPECT_EQ(app->Logoff(), S_OK);
  EXPECT_EQ(item->SetProps(0, 1, values), E_FAIL);
  EXPECT_TRUE(subscriptions().empty());
  item->Release();
  folder->Release();

  ce::testing::setFailPoint("Logon", E_FAIL, 0, 1);
  EXPECT_EQ(app->Logon(reinterpret_cast<long>(someWindow)), E_FAIL);
  EXPECT_EQ(app->Logon(reinterpret_cast<long>(someWindow)), S_OK);
  // Without a window there is nobody to notify.
  EXPECT_EQ(app->Logoff(), S_OK);
  ASSERT_EQ(app->Logon(0), S_OK);
  ASSERT_EQ(app->GetDefaultFolder(olFolderCalendar, &folder), S_OK);
  ASSERT_EQ(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item)), S_OK);
  EXPECT_EQ(item->SetProps(0, 1, values), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE));
  item->Release();
  folder->Release();
  app->Release();
  CoUninitialize();
}

TEST_F(PoomTest, ReleasingALoggedOnApplicationEndsItsSubscriptions) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  IPOutlookApp2* app = createApplication();
  ASSERT_EQ(app->Logon(reinterpret_cast<long>(someWindow)), S_OK);
  IFolder* folder = nullptr;
  ASSERT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), S_OK);
  IItem* item = nullptr;
  ASSERT_EQ(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item)), S_OK);
  CEPROPVAL value = notificationsProp(PIMFOLDERNOTIFICATION_ALL);
  ASSERT_EQ(item->SetProps(0, 1, &value), S_OK);
  EXPECT_EQ(app->Release(), 1u);  // the folder still holds it
  EXPECT_EQ(subscriptions().size(), 1u);
  item->Release();
  folder->Release();
  EXPECT_TRUE(subscriptions().empty());
  CoUninitialize();
}

TEST_F(PoomTest, AStoreThatIsNotOursIsRefusedAndLeftUntouched) {
  std::string path = ce::systemDir() + "/pim.db";
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage += "this is not a database. ";
  ce::test::writeFile(path, garbage);

  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  IPOutlookApp2* app = createApplication();
  EXPECT_LT(app->Logon(reinterpret_cast<long>(someWindow)), 0);
  IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);
  EXPECT_EQ(folder, nullptr);

  DWORD oid = 0;
  ce::pim::Result added = ce::pim::addItem(olFolderContacts, "Ann", oid);
  EXPECT_EQ(added.status, ce::pim::Status::storeFailed);
  EXPECT_NE(added.message.find("pim.db"), std::string::npos) << added.message;
  EXPECT_EQ(ce::test::readFile(path), garbage);

  // A real database of something else is not ours either.
  ASSERT_EQ(unlink(path.c_str()), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep me');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::string foreign = ce::test::readFile(path);
  ce::testing::reset();
  EXPECT_LT(app->Logon(reinterpret_cast<long>(someWindow)), 0);
  EXPECT_EQ(ce::pim::addItem(olFolderContacts, "Ann", oid).status, ce::pim::Status::storeFailed);
  EXPECT_EQ(ce::test::readFile(path), foreign);
  app->Release();
  CoUninitialize();
}

TEST_F(PoomTest, ItemsAreStoredExactlyAndBadInputChangesNothing) {
  SYSTEMTIME frozen{2025, 3, 0, 14, 9, 30, 0, 0};
  ce::testing::freezeLocalTime(frozen);
  DWORD contact = 0, appointment = 0, task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann Example", contact));
  ASSERT_TRUE(ce::pim::addItem(olFolderCalendar, "Dentist", appointment));
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "", task));
  EXPECT_LT(contact, appointment);
  EXPECT_LT(appointment, task);

  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].subject, "Ann Example");
  EXPECT_EQ(items[1].folder, olFolderCalendar);
  long long created = ticks(items[0].modified);
  ASSERT_TRUE(ce::pim::listItems(items, olFolderCalendar));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].oid, appointment);

  // With the clock standing still a change still moves the modification time.
  ASSERT_TRUE(ce::pim::changeItem(contact));
  ASSERT_TRUE(ce::pim::changeItem(contact, std::string("Ann Sample \xc3\xa9")));
  ASSERT_TRUE(ce::pim::listItems(items, olFolderContacts));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "Ann Sample \xc3\xa9");
  EXPECT_EQ(ticks(items[0].modified), created + 2);

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
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].subject, "Ann Sample \xc3\xa9");
  EXPECT_EQ(ticks(items[0].modified), created + 2);

  // A long subject of every kind of character survives byte for byte.
  std::string longSubject;
  while (longSubject.size() < 100 * 1024) longSubject += "Zo\xc3\xab \xe2\x82\xac \xf0\x9f\x93\x85 \t\n";
  ASSERT_TRUE(ce::pim::changeItem(task, longSubject));
  ASSERT_TRUE(ce::pim::listItems(items, olFolderTasks));
  EXPECT_EQ(items.at(0).subject, longSubject);

  // Ids are never given again, not even the highest one after its deletion.
  ASSERT_TRUE(ce::pim::deleteItem(task));
  EXPECT_EQ(ce::pim::deleteItem(task).status, ce::pim::Status::noSuchItem);
  DWORD next = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "again", next));
  EXPECT_GT(next, task);

  // Everything was committed: a fresh connection sees it.
  ce::testing::reset();
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].oid, next);
}

TEST_F(PoomTest, ProcessesThatCreateTheStoreAtOnceAllSucceed) {
  ce::systemDir();
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < 6; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char byte;
      (void)!read(gate[0], &byte, 1);  // released together when the parent closes the gate
      DWORD oid = 0;
      _exit(ce::pim::addItem(olFolderTasks, "task " + std::to_string(i), oid) ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  EXPECT_EQ(items.size(), 6u);
}

}  // namespace
