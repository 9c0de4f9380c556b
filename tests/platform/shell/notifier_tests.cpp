// The inotify notifier on real folders, with windows replaced by a recorder: what each window
// is told, in what order, and what it is never told.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/shell/change_notifier.h"
#include "platform/shell/notification_records.h"
#include "platform/shell/shell.h"
#include "tests/support/device_test.h"

namespace ce::shell {
namespace {

namespace fs = std::filesystem;

std::vector<std::wstring> received;

std::wstring kindName(LONG kind) {
  switch (kind) {
    case SHCNE_CREATE: return L"CREATE";
    case SHCNE_DELETE: return L"DELETE";
    case SHCNE_RENAMEITEM: return L"RENAMEITEM";
    case SHCNE_MKDIR: return L"MKDIR";
    case SHCNE_RMDIR: return L"RMDIR";
    case SHCNE_RENAMEFOLDER: return L"RENAMEFOLDER";
    case SHCNE_UPDATEDIR: return L"UPDATEDIR";
    default: return std::to_wstring(kind);
  }
}

// "w1 CREATE \A\f" or "w1 RENAMEITEM \A\f -> \B\g"; the record is released as a window would.
bool record(HWND window, FILECHANGENOTIFY* notify) {
  const FILECHANGEINFO& info = notify->fci;
  EXPECT_EQ(info.cbSize, sizeof(FILECHANGEINFO));
  std::wstring line = L"w" + std::to_wstring(reinterpret_cast<uintptr_t>(window)) + L" " +
                      kindName(info.wEventId) + L" " +
                      reinterpret_cast<const WCHAR*>(info.dwItem1);
  if (info.dwItem2) line += std::wstring(L" -> ") + reinterpret_cast<const WCHAR*>(info.dwItem2);
  received.push_back(line);
  EXPECT_TRUE(releaseRecord(notify));
  return true;
}

HWND window(uintptr_t n) { return reinterpret_cast<HWND>(n); }

class ShellNotifier : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    received.clear();
    notifier = std::make_unique<ChangeNotifier>(&record);
    ASSERT_TRUE(notifier->valid());
  }
  void TearDown() override {
    notifier.reset();
    EXPECT_EQ(liveRecordCount(), 0u);
    DeviceTest::TearDown();
  }

  std::string folder(const std::string& relative) {
    std::string path = ce::fsRoot() + "/" + relative;
    fs::create_directories(path);
    return path;
  }
  std::string file(const std::string& relative) { return ce::fsRoot() + "/" + relative; }
  void create(const std::string& relative) { std::ofstream(file(relative)) << "x"; }

  // Drives the drain until `count` lines have come.
  bool pumpUntil(size_t count) {
    return ce::test::waitFor([&] {
      notifier->drain();
      return received.size() >= count;
    });
  }
  // Creates a marker in a watched folder and waits for it: everything that happened before it
  // has then been delivered, so what has not come never will.
  std::vector<std::wstring> settle(const std::string& markerFolder, const std::wstring& line) {
    create(markerFolder + "/marker");
    EXPECT_TRUE(ce::test::waitFor([&] {
      notifier->drain();
      return !received.empty() && received.back() == line;
    }));
    std::vector<std::wstring> all = received;
    if (!all.empty() && all.back() == line) all.pop_back();
    received.clear();
    return all;
  }

  std::unique_ptr<ChangeNotifier> notifier;
};

using Lines = std::vector<std::wstring>;
constexpr DWORD kListenerMask = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE;

TEST_F(ShellNotifier, createWriteAndDeleteInOneFolder) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  create("A/f.pwi");
  std::ofstream(file("A/f.pwi"), std::ios::app) << "more";  // in place: never reported
  fs::remove(file("A/f.pwi"));
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"),
            (Lines{L"w1 CREATE \\A\\f.pwi", L"w1 DELETE \\A\\f.pwi"}));
}

TEST_F(ShellNotifier, renamesWithinAndBetweenWatchedFoldersAndMovesInAndOut) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  ASSERT_EQ(notifier->watch(window(2), folder("B"), kListenerMask), 0u);
  folder("Elsewhere");
  create("A/one");
  create("Elsewhere/two");
  ASSERT_TRUE(pumpUntil(1));
  received.clear();

  fs::rename(file("A/one"), file("A/uno"));
  fs::rename(file("A/uno"), file("B/one"));
  fs::rename(file("Elsewhere/two"), file("B/two"));
  fs::rename(file("B/two"), file("Elsewhere/back"));
  EXPECT_EQ(settle("B", L"w2 CREATE \\B\\marker"),
            (Lines{L"w1 RENAMEITEM \\A\\one -> \\A\\uno",
                   L"w1 RENAMEITEM \\A\\uno -> \\B\\one", L"w2 RENAMEITEM \\A\\uno -> \\B\\one",
                   L"w2 CREATE \\B\\two", L"w2 DELETE \\B\\two"}));
}

TEST_F(ShellNotifier, aMoveOutIsHeldOnlyAFewMillisecondsForAPartner) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  folder("Elsewhere");
  create("A/f");
  ASSERT_TRUE(pumpUntil(1));
  received.clear();
  fs::rename(file("A/f"), file("Elsewhere/f"));
  ASSERT_TRUE(ce::test::waitFor([&] {
    notifier->drain();
    return notifier->pendingTimeoutMs() >= 0 || !received.empty();
  }));
  // The loop is asked to come back within the partner wait, not left to block.
  EXPECT_LE(notifier->pendingTimeoutMs(), ChangeNotifier::kPartnerWait.count());
  ASSERT_TRUE(pumpUntil(1));
  EXPECT_EQ(received, (Lines{L"w1 DELETE \\A\\f"}));
  EXPECT_EQ(notifier->pendingTimeoutMs(), -1);
}

TEST_F(ShellNotifier, eachWindowGetsOnlyTheKindsOfItsMaskAndNothingFromSubfolders) {
  const DWORD folders = SHCNE_MKDIR | SHCNE_RMDIR | SHCNE_RENAMEFOLDER;
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  ASSERT_EQ(notifier->watch(window(2), folder("A"), folders), 0u);
  ASSERT_EQ(notifier->watch(window(3), folder("A"), SHCNE_DELETE), 0u);
  fs::create_directory(file("A/sub"));
  create("A/sub/inner");
  fs::rename(file("A/sub"), file("A/sub2"));
  fs::remove_all(file("A/sub2"));
  create("A/f");
  fs::remove(file("A/f"));
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"),
            (Lines{L"w2 MKDIR \\A\\sub", L"w2 RENAMEFOLDER \\A\\sub -> \\A\\sub2",
                   L"w2 RMDIR \\A\\sub2", L"w1 CREATE \\A\\f", L"w1 DELETE \\A\\f",
                   L"w3 DELETE \\A\\f"}));

  // The folder stays watched for the windows left when one of them goes.
  EXPECT_TRUE(notifier->unwatch(window(1)));
  fs::remove(file("A/marker"));
  fs::create_directory(file("A/again"));
  ASSERT_TRUE(pumpUntil(2));
  EXPECT_EQ(received, (Lines{L"w3 DELETE \\A\\marker", L"w2 MKDIR \\A\\again"}));
}

TEST_F(ShellNotifier, registeringAgainReplacesTheFolderAndFailuresKeepTheOldOne) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  EXPECT_EQ(notifier->watch(window(1), file("Missing"), kListenerMask),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  create("plain");
  EXPECT_EQ(notifier->watch(window(1), file("plain"), kListenerMask),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  create("A/still");
  ASSERT_TRUE(pumpUntil(1));
  EXPECT_EQ(received, (Lines{L"w1 CREATE \\A\\still"}));
  received.clear();

  ASSERT_EQ(notifier->watch(window(1), folder("B"), kListenerMask), 0u);
  EXPECT_EQ(notifier->registrationCount(), 1u);
  create("A/old");
  EXPECT_EQ(settle("B", L"w1 CREATE \\B\\marker"), Lines{});

  EXPECT_TRUE(notifier->unwatch(window(1)));
  EXPECT_FALSE(notifier->unwatch(window(1)));
  EXPECT_FALSE(notifier->unwatch(window(9)));
}

TEST_F(ShellNotifier, aFolderDeletedOrMovedAwayEndsItsRegistrations) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  ASSERT_EQ(notifier->watch(window(2), folder("A"), SHCNE_DELETE), 0u);
  create("A/f");
  ASSERT_TRUE(pumpUntil(1));
  received.clear();
  fs::remove_all(file("A"));
  ASSERT_TRUE(ce::test::waitFor([&] {
    notifier->drain();
    return notifier->registrationCount() == 0;
  }));
  EXPECT_EQ(received, (Lines{L"w1 DELETE \\A\\f", L"w2 DELETE \\A\\f"}));
  EXPECT_FALSE(notifier->unwatch(window(1)));

  // Once the folder exists again it can be watched again.
  received.clear();
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  create("A/g");
  ASSERT_TRUE(pumpUntil(1));
  EXPECT_EQ(received, (Lines{L"w1 CREATE \\A\\g"}));

  // Moved away, it would report under a path that is no longer its own.
  received.clear();
  fs::rename(file("A"), file("A2"));
  ASSERT_TRUE(ce::test::waitFor([&] {
    notifier->drain();
    return notifier->registrationCount() == 0;
  }));
  ASSERT_EQ(notifier->watch(window(2), folder("B"), kListenerMask), 0u);
  create("A2/h");
  EXPECT_EQ(settle("B", L"w2 CREATE \\B\\marker"), Lines{});
}

TEST_F(ShellNotifier, namesThatAreNotUtf8AndNamesOf255BytesComeThroughWhole) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  const std::string latin1 = "caf\xe9.pwi";
  const std::string longest = std::string(251, 'n') + ".pwi";
  create("A/" + latin1);
  create("A/" + longest);
  ASSERT_TRUE(pumpUntil(2));
  std::wstring escaped = std::wstring(L"caf") + wchar_t(0xDCE9) + L".pwi";
  EXPECT_EQ(received, (Lines{L"w1 CREATE \\A\\" + escaped,
                             L"w1 CREATE \\A\\" + ce::widenFileName(longest)}));
  // The path a window is given leads back to the very file.
  for (const std::wstring& line : received) {
    std::wstring path = line.substr(line.find(L'\\'));
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES) << path.size();
  }
}

int queueLimit() {
  std::ifstream in("/proc/sys/fs/inotify/max_queued_events");
  int limit = 16384;
  in >> limit;
  return limit;
}

TEST_F(ShellNotifier, anOverflowTellsEveryWindowToLookAtItsWholeFolderOnce) {
  ASSERT_EQ(notifier->watch(window(1), folder("A"), kListenerMask), 0u);
  ASSERT_EQ(notifier->watch(window(2), folder("B"), 0), 0u);
  const int files = queueLimit() + 100;
  for (int i = 0; i < files; ++i) create("A/" + std::to_string(i));
  notifier->drain();
  size_t creates = 0;
  Lines updates;
  for (const std::wstring& line : received) {
    if (line.find(L" CREATE ") != std::wstring::npos)
      ++creates;
    else
      updates.push_back(line);
  }
  EXPECT_EQ(updates, (Lines{L"w1 UPDATEDIR \\A", L"w2 UPDATEDIR \\B"}));
  EXPECT_GT(creates, 0u);
  EXPECT_LT(creates, static_cast<size_t>(files));
  // Events after the overflow are reported again.
  received.clear();
  EXPECT_EQ(settle("A", L"w1 CREATE \\A\\marker"), Lines{});
}

}  // namespace
}  // namespace ce::shell
