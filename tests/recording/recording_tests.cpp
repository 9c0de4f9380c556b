// Recording a change: the list, the scheduled start, and what changed while the listener was
// not running.
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "platform/pimstore.h"
#include "platform/windows.h"
#include "recording/change_recording.h"
#include "recording/file_type.h"
#include "recording/folder_summary.h"
#include "recording/offline_changes.h"
#include "tests/support/child_processes.h"
#include "tests/recording/listener_fixture.h"
#include "tests/support/settings.h"
#include "tests/support/test_window.h"
#include "tests/support/write_time.h"

namespace {

using ChangeRecordingTest = ce::test::ListenerTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const launcherLine =
    "[DEBUG] - CP: Next scheduled sync of \\Program Files\\Quillbex\\startsync.exe will start "
    "at ' 2026-03-10 10.01.00'";

TEST_F(ChangeRecordingTest, ChangeMarksItsSourceAndSchedulesFromItsOwnTime) {
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "2");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:01"));
  EXPECT_THAT(log(), ElementsAre(launcherLine));

  // Contacts and Calendar already stored: the list stays, the launcher moves to the new time.
  setValue("clientPushList", "6");
  at(2026, 3, 10, 10, 5);
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "6");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:06"));
  EXPECT_EQ(clientPush->lastChangeTime.wMinute, 5);
  EXPECT_EQ(clientPush->nextSyncTime.wMinute, 6);

  const std::pair<int, const char*> bits[] = {{13, "14"}, {601, "30"}, {600, "62"}, {604, "126"}};
  for (auto [sourceId, value] : bits) {
    setPIMModifications(clientPush, sourceId);
    EXPECT_EQ(list(), value) << sourceId;
  }
  EXPECT_EQ(requests().size(), 1u);
}

// Bits nobody knows, a list that is no number or too big for one: nothing stored is lost.
TEST_F(ChangeRecordingTest, SuspendedUnknownOrJunkListsKeepEveryBitTheyCan) {
  setPIMModifications(clientPush, 42);
  EXPECT_EQ(list(), "0");  // an absent list is created
  setValue("clientPushList", "6");
  clientPush->sourceFlags[5] = 1;  // Pictures suspended
  setPIMModifications(clientPush, 604);
  EXPECT_EQ(list(), "6");
  EXPECT_TRUE(requests().empty());
  EXPECT_TRUE(log().empty());
  // Beyond 64 bits saturates instead of wrapping; written with a sign, the list keeps it.
  const std::tuple<const char*, int, const char*> changes[] = {
      {"129", 13, "137"}, {"junk", 10, "2"}, {"99999999999999999999", 10, "18446744073709551615"},
      {"-128", 10, "-126"}};
  for (auto [stored, sourceId, recorded] : changes) {
    setValue("clientPushList", stored);
    setPIMModifications(clientPush, sourceId);
    EXPECT_EQ(list(), recorded) << stored;
  }
}

// Two processes recording different sources at the same moment (two listeners, or one and
// the client) must both end up in the list: the read and the write are one transaction.
TEST_F(ChangeRecordingTest, ConcurrentRecordersNeverLoseABit) {
  int lost = 0;
  for (int round = 0; round < 20; ++round) {
    setValue("clientPushList", "0");
    ASSERT_TRUE(ce::test::allAtOnce(2, [this](int notes) {
      setPIMModifications(clientPush, notes ? 601 : 10);
      return 0;
    }));
    if (list() != "18") ++lost;
  }
  EXPECT_EQ(lost, 0);
}

// An interval beyond a year either way is clamped to a year and named in an ERROR line, as is
// one that holds no number at all; only a missing one is silently 0.
TEST_F(ChangeRecordingTest, LoadPushConfigReadsPathAndClampsTheInterval) {
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"\\startsync.exe");
  EXPECT_EQ(clientPush->pushInterval, 0);  // missing interval
  setValue("path", "\\Program Files\\Caf\xc3\xa9");
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"\\Program Files\\Caf\u00e9\\startsync.exe");
  setValue("path", "D\\");
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"D\\\\startsync.exe");

  const std::pair<const char*, int> intervals[] = {
      {"5", 5}, {"-15min", -15}, {"never", 0}, {"-2147483648", -525600},
      {"99999999999", 525600}, {"525600", 525600}, {"", 0}, {"+4", 4}};
  for (auto [stored, minutes] : intervals) {
    setValue("clientPushInterval", stored);
    loadPushConfig(clientPush);
    EXPECT_EQ(clientPush->pushInterval, minutes) << stored;
  }
  // A number another program stored is read as the number it is, binary as text (each form
  // is NodeTest's).
  ce::test::writeRawSetting(L"clientPushInterval",
                            {REG_BINARY, {0x37, 0, 0, 0}});
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->pushInterval, 7);
  ce::test::writeRawSetting(L"clientPushInterval",
                            {REG_QWORD, ce::test::numberBytes(uint64_t{1} << 32, 8)});
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->pushInterval, 525600);
  EXPECT_THAT(log(), ElementsAre("[ERROR] - CP: clientPushInterval never is out of range; "
                                 "0 minutes are used",
                                 "[ERROR] - CP: clientPushInterval -2147483648 is out of range; "
                                 "-525600 minutes are used",
                                 "[ERROR] - CP: clientPushInterval 99999999999 is out of range; "
                                 "525600 minutes are used",
                                 "[ERROR] - CP: clientPushInterval \"\" is out of range; "
                                 "0 minutes are used",
                                 "[ERROR] - CP: clientPushInterval 4294967296 is out of range; "
                                 "525600 minutes are used"));
  clientPush->launcherPath = L"\\Program Files\\Quillbex\\startsync.exe";
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(requests(), launcherOnlyAt("2027-03-10 10:00"));
}

// A list the store refuses (locked past its wait, read-only, full) keeps its bits in memory
// and asks for no start yet: a launcher started before the write would find nothing to do.
TEST_F(ChangeRecordingTest, RefusedListWriteKeepsTheBitsUntilAWriteSucceeds) {
  ce::testing::setFailPoint("runInTransaction", ERROR_BUSY, ERROR_BUSY, 1);
  setPIMModifications(clientPush, 10);
  ce::testing::setFailPoint("RegSetValueExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
  setPIMModifications(clientPush, 601);
  retryUnrecordedChanges(clientPush);
  ce::testing::clearFailPoints();
  EXPECT_EQ(list(), "");
  EXPECT_TRUE(requests().empty());
  EXPECT_TRUE(hasUnrecordedChanges(clientPush));

  // The client clears and writes other bits meanwhile; the kept ones still arrive.
  setValue("clientPushList", "4");
  setPIMModifications(clientPush, 13);
  EXPECT_EQ(list(), "30");
  EXPECT_FALSE(hasUnrecordedChanges(clientPush));
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:01"));
  EXPECT_THAT(log(), ElementsAre("[ERROR] - CP: clientPushList could not be written (error 170); "
                                 "the change is kept and retried",
                                 "[INFO] - CP: Kept changes written to clientPushList",
                                 launcherLine));

  // A later streak is reported again; the retry alone writes the kept bit and schedules.
  at(2026, 3, 10, 10, 30);
  setValue("clientPushList", "0");
  ce::testing::setFailPoint("RegSetValueExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1);
  setPIMModifications(clientPush, 604);
  EXPECT_EQ(list(), "0");
  retryUnrecordedChanges(clientPush);
  EXPECT_EQ(list(), "64");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:31"));
  EXPECT_EQ(ce::test::entriesStartingWith(log(), {"CP: clientPushList could not"}).size(), 2u);
}

// A request the platform refuses (here a junk store, which is never overwritten) still logs
// its time, then one ERROR line per streak, and is made again for that same time.
TEST_F(ChangeRecordingTest, RefusedStartRequestIsReportedOnceAndMadeAgainForItsTime) {
  const std::string junk(3000, 'J');
  ce::test::writeFile(hostPath("system/notify.db"), junk);
  setPIMModifications(clientPush, 10);
  at(2026, 3, 10, 10, 2);
  setPIMModifications(clientPush, 9);
  retryUnrecordedChanges(clientPush);
  EXPECT_EQ(list(), "6");  // the list does not wait for the request
  EXPECT_TRUE(hasUnrecordedChanges(clientPush));
  EXPECT_THAT(log(), ElementsAre(launcherLine,
                                 "[ERROR] - CP: The start of \\Program Files\\Quillbex\\startsync"
                                 ".exe could not be requested (error 1009); it is retried",
                                 "[DEBUG] - CP: Next scheduled sync of \\Program Files\\Quillbex"
                                 "\\startsync.exe will start at ' 2026-03-10 10.03.00'"));
  EXPECT_EQ(ce::test::readFile(hostPath("system/notify.db")), junk);

  std::filesystem::remove(hostPath("system/notify.db"));
  at(2026, 3, 10, 10, 20);
  retryUnrecordedChanges(clientPush);
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:03"));
  EXPECT_FALSE(hasUnrecordedChanges(clientPush));
  EXPECT_EQ(log().size(), 3u);
}

// Another program keeps the list in another type: a REG_DWORD or REG_QWORD is read as its
// number, any other type as UTF-16 text (a REG_BINARY "4" is 4, not the 52 of its bytes read
// as a number). The change adds its bit and the list is written back as REG_SZ decimal text,
// which keeps every bit of either number.
TEST_F(ChangeRecordingTest, ListOfAnyTypeGetsItsBitAndBecomesDecimalText) {
  using ce::test::numberBytes;
  using ce::test::RawValue;
  using ce::test::textBytes;
  struct Case {
    const char* form;
    RawValue stored;
    int sourceId;
    const wchar_t* written;
  };
  const uint64_t high = (uint64_t{1} << 40) | (uint64_t{1} << 63);
  const Case cases[] = {
      {"dword", {REG_DWORD, numberBytes(16, 4)}, 10, L"18"},
      {"dword, all bits", {REG_DWORD, numberBytes(0xffffffff, 4)}, 10, L"4294967295"},
      {"dword, bit 31", {REG_DWORD, numberBytes(0x80000000, 4)}, 13, L"2147483656"},
      {"qword, high bits", {REG_QWORD, numberBytes(high, 8)}, 604, L"9223373136366403648"},
      {"binary text", {REG_BINARY, {0x34, 0, 0, 0}}, 10, L"6"},
      {"binary text, 8 bytes", {REG_BINARY, {0x31, 0, 0x36, 0, 0, 0, 0, 0}}, 10, L"18"},
      {"expandable", {REG_EXPAND_SZ, textBytes(L"2")}, 10, L"2"},
      {"multiple", {REG_MULTI_SZ, textBytes(std::wstring(L"2\0", 2))}, 10, L"2"},
      {"3 bytes", {REG_BINARY, {16, 0, 0}}, 10, L"2"},
  };
  for (const Case& c : cases) {
    ce::test::writeRawSetting(L"clientPushList", c.stored);
    setPIMModifications(clientPush, c.sourceId);
    EXPECT_EQ(ce::test::readRawSetting(L"clientPushList"), (RawValue{REG_SZ, textBytes(c.written)}))
        << c.form;
  }
  for (const std::string& entry : log()) EXPECT_FALSE(entry.starts_with("[ERROR]")) << entry;
}

// What changed while the listener was not running.
namespace fs = std::filesystem;

class OfflineChangesTest : public ce::test::ListenerTest {
 protected:
  std::string documents() { return hostPath("fs/My Documents/"); }
  void write(const std::string& relative, const std::string& text) {
    ce::test::writeFile(documents() + relative, text);
  }
  // A new item of a PIM folder: its id.
  DWORD add(int folder, const char* subject) {
    DWORD oid = 0;
    EXPECT_TRUE(ce::pim::addItem(folder, subject, oid)) << subject;
    return oid;
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
  const std::string image = documents() + "My Pictures/IMG_01.JPG";
  write("My Pictures/IMG_01.JPG", "three");
  changes("resized");
  // The time alone, and the size alone: each is enough.
  using ce::test::lastWriteTime;
  using ce::test::setLastWriteTime;
  auto second = std::chrono::time_point_cast<std::chrono::seconds>(lastWriteTime(image));
  setLastWriteTime(image, second - std::chrono::seconds(5) + std::chrono::milliseconds(100));
  changes("rewritten in place");
  setLastWriteTime(image, second - std::chrono::seconds(5) + std::chrono::milliseconds(300));
  changes("rewritten again within the same second");
  auto time = lastWriteTime(image);
  write("My Pictures/IMG_01.JPG", "three, and more");
  setLastWriteTime(image, time);
  changes("resized, its time put back");
  fs::rename(image, documents() + "My Pictures/IMG_02.JPG");
  changes("renamed");
  time = lastWriteTime(documents() + "My Pictures/IMG_02.JPG");
  write("My Pictures/copy.jpg", "three, and more");
  setLastWriteTime(documents() + "My Pictures/copy.jpg", time);
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

// The device finds names in any case: a folder named in another case is listed (that a file
// written through another spelling is the same file is the files conformance area's), and a
// "folder" that is a file is as absent as a missing one (its listing fails with
// ERROR_INVALID_NAME).
TEST_F(OfflineChangesTest, SummariesFollowTheDevicesNamesInAnyCase) {
  const FolderRules notes = notesRules;
  write("Notes/memo.pwi", "x");
  EXPECT_EQ(summaryOf(L"\\MY DOCUMENTS\\NOTES", notes).substr(0, 2), "1-");
  write("Notes/not-a-folder", "x");
  std::string absent = summaryOf(L"\\My Documents\\Gone", notes);
  EXPECT_EQ(absent.substr(0, 5), "none-");
  EXPECT_EQ(summaryOf(L"\\My Documents\\Notes\\not-a-folder", notes).substr(0, 5), "none-");
}

// A stored summary reads the same to a 16-bit and a 32-bit wchar_t build. Pinned values,
// worked out apart from this code (UTF-32LE characters, then their count): a path without and
// one with a character beyond U+FFFF, given as its literal (a surrogate pair where wchar_t is
// 16-bit) and as an explicit pair. A summary that hashed wchar_t units differs on Windows.
TEST_F(OfflineChangesTest, SummariesAreTheSameWhateverTheWidthOfWchar) {
  EXPECT_EQ(summaryOf(L"\\My Documents\\Gone", notesRules), "none-dc5a356e54ce435c");
  EXPECT_EQ(summaryOf(L"\\My Documents\\\U0001F600 Gone", notesRules), "none-93ac603f041c6964");
  std::wstring pair = L"\\My Documents\\";
  pair += static_cast<wchar_t>(0xD83D);
  pair += static_cast<wchar_t>(0xDE00);
  pair += L" Gone";
  EXPECT_EQ(summaryOf(pair.c_str(), notesRules), "none-93ac603f041c6964");
}

// "." and ".." are not entries of a folder: desktop Windows lists them (the device does not),
// and a summary that counted them would change with the folder's own time. Only those two
// names: a file named "..." or ".x" is an entry like any other.
TEST_F(OfflineChangesTest, OnlyTheSelfAndParentNamesAreNoEntries) {
  for (const wchar_t* name : {L".", L".."}) EXPECT_TRUE(isSelfOrParentEntry(name));
  for (const wchar_t* name : {L"...", L".x", L"..x", L"x.", L"x", L""})
    EXPECT_FALSE(isSelfOrParentEntry(name));
  fs::create_directories(documents() + "Empty");
  EXPECT_EQ(summaryOf(L"\\My Documents\\Empty", briefcaseRules).substr(0, 2), "0-");
  write("Empty/.x", "x");
  EXPECT_EQ(summaryOf(L"\\My Documents\\Empty", briefcaseRules).substr(0, 2), "1-");
}

TEST_F(OfflineChangesTest, FirstStartOnlyRemembersThenEachChangedSourceIsRecordedOnce) {
  add(olFolderTasks, "before the first start");
  write("Notes/old.pwi", "x");
  EXPECT_THAT(restart(), IsEmpty());
  EXPECT_EQ(list(), "0");
  EXPECT_THAT(requests(), IsEmpty());
  EXPECT_THAT(restart(), IsEmpty());

  add(olFolderTasks, "milk");
  write("Notes/memo.pwi", "x");
  write("My Pictures/IMG_01.JPG", "x");
  write("Notes/readme.txt", "not a note");
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: tasks, notes, pictures"));
  EXPECT_EQ(list(), "88");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:01"));
  EXPECT_THAT(restart(), IsEmpty());
  EXPECT_EQ(list(), "0");
}

TEST_F(OfflineChangesTest, RecordedLiveChangesAreNotRecordedAgainButSuspendedOnesAre) {
  restart();
  DWORD contact = add(olFolderContacts, "Ann");
  setPIMModifications(clientPush, olFolderContacts);
  EXPECT_THAT(restart(), IsEmpty());
  // The second change of a source finds its bit set already: the list is left as it is, but
  // the state it covers is still the newest.
  ASSERT_TRUE(ce::pim::changeItem(contact, "Ann A."));
  setPIMModifications(clientPush, olFolderContacts);
  ASSERT_TRUE(ce::pim::changeItem(contact, "Ann Ab."));
  setPIMModifications(clientPush, olFolderContacts);
  EXPECT_EQ(list(), "2");
  EXPECT_THAT(restart(), IsEmpty());

  // Suspended while the client synchronises: not recorded live, so recorded at the start,
  // whatever another source recorded live meanwhile.
  clientPush->setFlag(1);
  ASSERT_TRUE(ce::pim::changeItem(contact, "Ann B."));
  setPIMModifications(clientPush, olFolderContacts);
  clientPush->resetFlag(100);
  add(olFolderCalendar, "Lunch");
  setPIMModifications(clientPush, olFolderCalendar);
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

// A source that cannot be read at the start may have changed: it is recorded, and what was
// remembered of it stays for the next start.
TEST_F(OfflineChangesTest, SourcesThatCannotBeReadAtTheStartCountAsChanged) {
  const std::string junk(4096, 'J');
  ce::test::writeFile(hostPath("system/pim.db"), junk);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts, calendar, "
                                     "tasks"));
  EXPECT_EQ(list(), "14");
  // The first two folders looked at, Briefcase and Notes, cannot be listed.
  ce::testing::setFailPoint("FindFirstFileW", reinterpret_cast<long long>(INVALID_HANDLE_VALUE),
                            ERROR_ACCESS_DENIED, 2);
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts, calendar, "
                                     "tasks, notes, briefcase"));
  EXPECT_EQ(list(), "62");
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts, calendar, "
                                     "tasks"));
  EXPECT_EQ(ce::test::readFile(hostPath("system/pim.db")), junk);
}

// A change the listener still holds at a clean stop, because the list could not be written,
// is found again at the next start: neither its folder's summary nor its PIM folder's state
// moves on without it.
TEST_F(OfflineChangesTest, ChangesHeldUnwrittenAtAShutdownAreRecordedAtTheNextStart) {
  restart();
  add(olFolderContacts, "Ann");
  write("Notes/memo.pwi", "x");
  ce::testing::setFailPoint("runInTransaction", ERROR_BUSY, ERROR_BUSY);
  setPIMModifications(clientPush, olFolderContacts);
  setPIMModifications(clientPush, 601);
  ce::testing::clearFailPoints();
  ASSERT_TRUE(hasUnrecordedChanges(clientPush));
  rememberFolderSummaries(clientPush);
  clientPush->unrecorded = UnrecordedChanges{};  // what a new process starts with
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: contacts, notes"));
}

// The folders are asked of the client library again at each start: one it now names
// elsewhere is another folder, and that one is compared from then on.
TEST_F(OfflineChangesTest, FoldersAreLookedUpAgainAtEachStart) {
  restart();
  fs::create_directories(hostPath("fs/Elsewhere"));
  ce::test::writeSetting("dir", "\\Elsewhere", "Quillbex/SyncclientPIM/sources/note");
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: notes"));
  ce::test::writeFile(hostPath("fs/Elsewhere/memo.pwi"), "x");
  EXPECT_THAT(restart(), ElementsAre("[INFO] - CP: Changes while stopped: notes"));
  EXPECT_THAT(restart(), IsEmpty());
}

}  // namespace
