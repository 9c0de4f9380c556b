#include <filesystem>
#include <string>

#include "platform/pimstore.h"
#include "recording/change_recording.h"
#include "recording/file_type.h"
#include "recording/folder_summary.h"
#include "recording/offline_changes.h"
#include "tests/recording/listener_fixture.h"
#include "tests/support/test_window.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class OfflineChangesTest : public ce::test::ListenerTest {
 protected:
  void SetUp() override {
    ListenerTest::SetUp();
    for (const char* folder : {"Briefcase", "Notes", "My Pictures"})
      fs::create_directories(documents() + folder);
  }

  std::string documents() { return hostPath("fs/My Documents/"); }
  void write(const std::string& relative, const std::string& text) {
    ce::test::writeFile(documents() + relative, text);
  }
  void addTask(const char* subject) {
    DWORD oid = 0;
    ASSERT_TRUE(ce::pim::addItem(olFolderTasks, subject, oid));
  }

  // A start as the listener makes it, from a clean list; what it logged about it.
  std::vector<std::string> restart() {
    setValue("clientPushList", "0");
    for (const auto& request : ce::notify::pendingRequests())
      CeRunAppAtTime(request.app.c_str(), nullptr);
    size_t before = log().size();
    recordChangesWhileStopped(clientPush);
    std::vector<std::string> entries = log();
    entries.erase(entries.begin(), entries.begin() + static_cast<long>(before));
    return ce::test::entriesStartingWith(entries, {"CP: Changes"});
  }
};

std::string summaryOf(const wchar_t* folder, FolderRules rules) {
  return summarizeFolder(folder, rules).value_or("unlisted");
}

TEST_F(OfflineChangesTest, OnlyEntriesTheFolderWouldReportChangeItsSummary) {
  const FolderRules pictures{pictureFileType, true};
  const wchar_t* folder = L"\\My Documents\\My Pictures";
  std::string empty = summaryOf(folder, pictures);
  write("My Pictures/readme.txt", "x");
  write("My Pictures/thumbs.dat.jpg", "x");
  write("My Pictures/tmp.jpg", "x");
  fs::remove(documents() + "My Pictures/tmp.jpg");
  EXPECT_EQ(summaryOf(folder, pictures), empty);

  std::string seen = {empty};
  auto changes = [&](const char* what) {
    std::string now = summaryOf(folder, pictures);
    EXPECT_NE(now, seen) << what;
    seen = now;
  };
  write("My Pictures/IMG_01.JPG", "one");
  changes("added");
  write("My Pictures/IMG_01.JPG", "three");
  changes("resized");
  fs::last_write_time(documents() + "My Pictures/IMG_01.JPG",
                      fs::last_write_time(documents() + "My Pictures/IMG_01.JPG") -
                          std::chrono::seconds(5));
  changes("rewritten in place");
  fs::rename(documents() + "My Pictures/IMG_01.JPG", documents() + "My Pictures/IMG_02.JPG");
  changes("renamed");
  auto time = fs::last_write_time(documents() + "My Pictures/IMG_02.JPG");
  write("My Pictures/copy.jpg", "three");
  fs::last_write_time(documents() + "My Pictures/copy.jpg", time);
  fs::rename(documents() + "My Pictures/copy.jpg", documents() + "My Pictures/IMG_02.JPG");
  changes("replaced by a file of the same name, size and time");
  fs::remove(documents() + "My Pictures/IMG_02.JPG");
  changes("removed");
  EXPECT_EQ(seen, empty);

  // The same contents elsewhere, or no folder at all, are not the same folder.
  EXPECT_NE(summaryOf(L"\\My Documents\\Notes", pictures), empty);
  std::string absent = summaryOf(L"\\My Documents\\Gone", pictures);
  fs::create_directories(documents() + "Gone");
  EXPECT_NE(summaryOf(L"\\My Documents\\Gone", pictures), absent);
}

TEST_F(OfflineChangesTest, FirstStartOnlyRemembersThenEachChangedSourceIsRecordedOnce) {
  addTask("before the first start");
  write("Notes/old.pwi", "x");
  EXPECT_THAT(restart(), IsEmpty());
  EXPECT_EQ(list(), "0");
  EXPECT_THAT(requests(), IsEmpty());
  EXPECT_THAT(restart(), IsEmpty());

  addTask("milk");
  write("Notes/memo.pwi", "x");
  write("My Pictures/IMG_01.JPG", "x");
  write("Notes/readme.txt", "not a note");
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: tasks, notes, pictures"));
  EXPECT_EQ(list(), "88");
  EXPECT_THAT(requests(),
              ElementsAre("2026-03-10 10:01 \\Program Files\\Quillbex\\startsync.exe"));
  EXPECT_THAT(restart(), IsEmpty());
  EXPECT_EQ(list(), "0");
}

TEST_F(OfflineChangesTest, RecordedLiveChangesAreNotRecordedAgainButSuspendedOnesAre) {
  restart();
  DWORD contact = 0;
  ASSERT_TRUE(ce::pim::addItem(olFolderContacts, "Ann", contact));
  setPIMModifications(clientPush, olFolderContacts);
  EXPECT_THAT(restart(), IsEmpty());

  // Suspended while the client synchronises: not recorded live, so recorded at the start.
  clientPush->setFlag(1);
  ASSERT_TRUE(ce::pim::changeItem(contact, "Ann B."));
  setPIMModifications(clientPush, olFolderContacts);
  clientPush->resetFlag(100);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts"));

  // A start whose recording does not reach the list leaves the change to be found again.
  ASSERT_TRUE(ce::pim::changeItem(contact, "Ann C."));
  clientPush->setFlag(1);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts"));
  clientPush->resetFlag(100);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts"));
  EXPECT_EQ(list(), "2");
  EXPECT_THAT(restart(), IsEmpty());
}

// A clean stop takes the folders as they are, except one whose change is still queued.
TEST_F(OfflineChangesTest, ShutdownSummariesLeaveOutFoldersWithQueuedChanges) {
  for (HWND* window : {&clientPush->briefcaseWindow, &clientPush->notesWindow,
                       &clientPush->pictureWindow})
    *window = ce::test::makeWindow(L"OfflineChangesTestWindow", DefWindowProcW);
  restart();
  write("Briefcase/report.doc", "recorded live");
  write("Notes/memo.pwi", "its event not handled yet");
  ASSERT_TRUE(PostMessageW(clientPush->notesWindow, WM_FILECHANGEINFO, 0, 0));
  ASSERT_TRUE(PostMessageW(clientPush->briefcaseWindow, WM_COMMAND, 0, 0));
  rememberFolderSummaries(clientPush);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: notes"));
}

}  // namespace
