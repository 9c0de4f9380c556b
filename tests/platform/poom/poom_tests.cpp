// The PIM store: items, subscriptions, the notifications of subscribed windows and the change
// tokens committed with each change.
#include <signal.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/pimstore.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"
#include "tests/support/test_window.h"

namespace {

using ce::test::exitCodeInChild;
using ce::test::pumpUntilIdle;

// COM initialised for the whole test.
class PoomTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    DeviceTest::TearDown();
  }
};

// A new application object; null when it could not be made.
IPOutlookApp2* createApplication() {
  void* object = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp2, &object);
  return SUCCEEDED(result) ? static_cast<IPOutlookApp2*>(object) : nullptr;
}

// The IItem of a default folder, which the caller releases; null when a step failed.
IItem* folderItem(IPOutlookApp2* app, int folderId) {
  IFolder* folder = nullptr;
  IItem* item = nullptr;
  if (SUCCEEDED(app->GetDefaultFolder(folderId, &folder)))
    folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item));
  if (folder) folder->Release();
  return item;
}

CEPROPVAL notificationsProp(ULONG mode) {
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = mode;
  return value;
}

// The listener's own sequence, minus the error paths; null when any step failed.
IPOutlookApp2* logOnAndSubscribe(HWND window, int folderId, ULONG mode) {
  IPOutlookApp2* app = createApplication();
  if (!app) return nullptr;
  IItem* item = SUCCEEDED(app->Logon(reinterpret_cast<long>(window))) ? folderItem(app, folderId)
                                                                      : nullptr;
  CEPROPVAL value = notificationsProp(mode);
  bool ok = item && item->SetProps(0, 1, &value) == S_OK;
  if (item) item->Release();
  if (!ok) app->Release();
  return ok ? app : nullptr;
}

using PimNotificationTest = PoomTest;
using ChangeTokenTest = PoomTest;

const long logonWindow = 0x12345;

std::vector<ce::pim::Subscription> subscriptions() {
  std::vector<ce::pim::Subscription> all;
  EXPECT_TRUE(ce::pim::listSubscriptions(all));
  return all;
}

long long ticks(const FILETIME& ft) {
  return static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) |
                                ft.dwLowDateTime);
}

std::map<int, long long> tokens() {
  std::map<int, long long> all;
  for (int folder : {olFolderCalendar, olFolderContacts, olFolderTasks})
    EXPECT_TRUE(ce::pim::readChangeToken(folder, all[folder]));
  return all;
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

// (A file that is not a database at all: ListenerProcessTest's and DeviceHomeProcessTest's.)
TEST_F(PoomTest, ADatabaseThatIsNotOursIsRefusedAndLeftUntouched) {
  std::string path = ce::systemDir() + "/pim.db";
  ASSERT_EQ(ce::test::sqlExec(path, "CREATE TABLE notes(text); INSERT INTO notes VALUES('keep');"),
            SQLITE_OK);
  std::string before = ce::test::readFile(path);
  IPOutlookApp2* app = createApplication();
  EXPECT_LT(app->Logon(logonWindow), 0);
  IFolder* folder = reinterpret_cast<IFolder*>(0xdeadbeef);
  EXPECT_EQ(app->GetDefaultFolder(olFolderContacts, &folder), E_FAIL);
  EXPECT_EQ(folder, nullptr);
  DWORD oid = 0;
  ce::pim::Result added = ce::pim::addItem(olFolderContacts, "Ann", oid);
  EXPECT_EQ(added.status, ce::pim::Status::storeFailed);
  EXPECT_NE(added.message.find("pim.db"), std::string::npos) << added.message;
  EXPECT_EQ(ce::test::readFile(path), before);
  app->Release();
}

// The process's store gives back what SQLite cached once a burst is handled, and goes on
// (catches a trim that never reaches the store, and one that leaves it unusable).
TEST_F(PoomTest, AnIdleTrimGivesBackTheStoresCachedPagesAndItGoesOn) {
  DWORD oid = 0;
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(ce::pim::addItem(olFolderContacts, std::string(300, static_cast<char>('a' + i % 26)),
                                 oid));
  const sqlite3_int64 cached = sqlite3_memory_used();
  ce::trimIdleMemory();
  EXPECT_LT(sqlite3_memory_used(), cached - 16 * 1024);
  ASSERT_TRUE(ce::pim::changeItem(oid, std::string("Zed")));
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items, olFolderContacts));
  ASSERT_EQ(items.size(), 100u);
  EXPECT_EQ(items.back().subject, "Zed");
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
  EXPECT_EQ(ce::pim::changeItem(999).status, ce::pim::Status::noSuchItem);
  ASSERT_TRUE(ce::pim::listItems(items, olFolderContacts));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "Ann Sample \xc3\xa9");
  EXPECT_EQ(ticks(items[0].modified), created + 2);

  // Ids are never given again, not even the highest one after its deletion.
  ASSERT_TRUE(ce::pim::deleteItem(task));
  EXPECT_EQ(ce::pim::deleteItem(task).status, ce::pim::Status::noSuchItem);
  // Each committed change raises its own folder's token; a refused one commits nothing.
  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 1}, {10, 3}, {13, 2}}));
  // The longest subject allowed is taken whole.
  EXPECT_TRUE(ce::pim::changeItem(contact, std::string(ce::pim::maxSubjectBytes, 'a')));
  long long token = 0;
  EXPECT_EQ(ce::pim::readChangeToken(42, token).status, ce::pim::Status::badFolder);
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

constexpr UINT kMarker = WM_APP + 1;

using ce::test::Received;
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

// A process that subscribes a window of its own to `folderId` and is killed without logging
// off; true when it got that far.
bool subscriberDiedWithoutLogoff(int folderId) {
  return exitCodeInChild([folderId] {
           HWND window = makeWindow();
           if (!window || !logOnAndSubscribe(window, folderId, PIMFOLDERNOTIFICATION_REMOTE))
             return 2;
           kill(getpid(), SIGKILL);
           return 4;
         }) == 128 + SIGKILL;
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
  ASSERT_TRUE(subscriberDiedWithoutLogoff(olFolderContacts));
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

// The clock of the kernel's process start times: ticks since boot.
unsigned long long bootTicks() {
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const long hz = sysconf(_SC_CLK_TCK);
  return static_cast<unsigned long long>(now.tv_sec) * hz + now.tv_nsec / (1000000000 / hz);
}

// Starts `body` in a forked child that has exactly the pid `wanted` (free again), through the
// kernel's last-pid counter; the child's pid, or -1 when another process took it first.
pid_t spawnWithPid(pid_t wanted, const std::function<int()>& body) {
  for (int attempt = 0; attempt < 20 && kill(wanted, 0) != 0; ++attempt) {
    std::ofstream("/proc/sys/kernel/ns_last_pid") << wanted - 1;
    pid_t child = ce::test::spawn([&] { return getpid() == wanted ? body() : 3; });
    if (child == wanted) return child;
    ce::test::exitCodeOf(child);
  }
  return -1;
}

// A subscriber killed without logging off, whose pid a new process then got: the new
// process's window has the very handle the subscription names, and still hears nothing.
TEST_F(PimNotificationTest, AProcessThatGotADeadSubscribersPidIsNeverNotified) {
  if (access("/proc/sys/kernel/ns_last_pid", W_OK) != 0)
    GTEST_SKIP() << "cannot choose the pid of a new process (needs root)";
  const std::string store = ce::systemDir() + "/pim.db";
  ASSERT_TRUE(subscriptions().empty());  // the store made, with its tables
  pid_t successor = -1;
  HWND named = nullptr;
  int ready[2] = {-1, -1};
  // Another process of the machine may take the pid between the death and the new start:
  // then the whole story starts again with a new subscriber.
  for (int round = 0; round < 10 && successor < 0; ++round) {
    ASSERT_EQ(ce::test::sqlExec(store, "DELETE FROM subscriptions"), SQLITE_OK);
    pid_t dead = ce::test::spawn([] {
      HWND window = makeWindow();
      if (!window || !logOnAndSubscribe(window, olFolderContacts, PIMFOLDERNOTIFICATION_REMOTE))
        return 2;
      kill(getpid(), SIGKILL);
      return 4;
    });
    ASSERT_EQ(ce::test::exitCodeOf(dead), 128 + SIGKILL);
    // A process started within the dead one's clock tick would be the dead one by pid and
    // start time; a pid comes round again far later than that.
    const unsigned long long diedAt = bootTicks();
    ASSERT_TRUE(ce::test::waitFor([diedAt] { return bootTicks() > diedAt; }));
    ASSERT_EQ(subscriptions().size(), 1u);
    named = subscriptions()[0].window;
    ASSERT_EQ(pipe(ready), 0);
    successor = spawnWithPid(dead, [&] {
      close(ready[0]);
      HWND window = makeWindow();  // made as the dead one made its own: the same handle
      if (window != named) return 2;
      if (write(ready[1], "r", 1) != 1) return 2;
      if (!pumpUntilMarker()) return 2;
      return received.size() == 1 ? 0 : 1;  // the marker alone
    });
    close(ready[1]);
    if (successor < 0) close(ready[0]);
  }
  if (successor < 0) GTEST_SKIP() << "other processes kept taking the pids this test needs";
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  DWORD contact = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann", contact));
  ASSERT_TRUE(PostMessageW(named, kMarker, 0, 0));
  EXPECT_EQ(ce::test::exitCodeOf(successor), 0);
  EXPECT_TRUE(subscriptions().empty());  // found gone, and ended
}

// What a boot clears: the subscriptions of windows that are gone, with their process or on
// their own; a live window keeps its own.
TEST_F(PimNotificationTest, EndingTheSubscriptionsOfGoneWindowsKeepsLiveOnes) {
  ASSERT_TRUE(subscriberDiedWithoutLogoff(olFolderTasks));
  HWND live = makeWindow();
  IPOutlookApp2* kept = logOnAndSubscribe(live, olFolderContacts, PIMFOLDERNOTIFICATION_ALL);
  ASSERT_NE(kept, nullptr);
  HWND destroyed = makeWindow();
  IPOutlookApp2* lost = logOnAndSubscribe(destroyed, olFolderCalendar, PIMFOLDERNOTIFICATION_ALL);
  ASSERT_NE(lost, nullptr);
  ASSERT_TRUE(DestroyWindow(destroyed));
  ASSERT_EQ(subscriptions().size(), 3u);

  std::vector<ce::pim::Subscription> ended;
  ASSERT_TRUE(ce::pim::endSubscriptionsOfGoneWindows(ended));
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_EQ(ended[0].folder, olFolderCalendar);
  EXPECT_EQ(ended[0].window, destroyed);
  EXPECT_EQ(ended[1].folder, olFolderTasks);
  auto left = subscriptions();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].window, live);
  ASSERT_TRUE(ce::pim::endSubscriptionsOfGoneWindows(ended));
  EXPECT_TRUE(ended.empty());
  kept->Release();
  lost->Release();
}

// The token and the item are one commit: when the commit fails both stay as they were, and
// a subscriber hears of a change only once it is committed.
TEST_F(ChangeTokenTest, AFailedCommitRaisesNothingAndNotifiesNobody) {
  HWND window = makeWindow();
  IPOutlookApp2* app = logOnAndSubscribe(window, olFolderTasks, PIMFOLDERNOTIFICATION_LOCAL);
  ASSERT_NE(app, nullptr);

  DWORD task = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderTasks, "milk", task));
  pumpUntilIdle();
  EXPECT_EQ(received,
            (std::vector<Received>{{window, PIM_ITEM_CREATED_LOCAL, task, olFolderTasks}}));

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
  EXPECT_EQ(received,
            (std::vector<Received>{{window, PIM_ITEM_DELETED_LOCAL, task, olFolderTasks}}));
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
      "INSERT INTO subscriptions(window, folder, mode, pid) VALUES (77, 13, 1, 1);"
      "PRAGMA user_version=1;";
  ASSERT_EQ(ce::test::sqlExec(ce::systemDir() + "/pim.db", older), SQLITE_OK);

  EXPECT_EQ(tokens(), (std::map<int, long long>{{9, 0}, {10, 0}, {13, 0}}));
  std::vector<ce::pim::Item> items;
  ASSERT_TRUE(ce::pim::listItems(items));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].subject, "old task");
  // Its subscriptions too, though they name no start time of their process.
  ASSERT_EQ(subscriptions().size(), 1u);
  EXPECT_EQ(subscriptions()[0].pid, 1);
  ASSERT_TRUE(ce::pim::changeItem(items[0].oid, "new task"));
  EXPECT_EQ(tokens()[olFolderTasks], 1);

  // Upgraded once: a new connection opens it as it is.
  ce::testing::reset();
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(tokens()[olFolderTasks], 1);
}

}  // namespace
