#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/notify.h"
#include "platform/linux/process.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/e2e/device_fixture.h"
#include "tests/e2e/resident_pages.h"
#include "tests/support/sqlite_file.h"

namespace {

using ListenerProcessTest = ce::test::DeviceProcessTest;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

TEST_F(ListenerProcessTest, BootsSubscribesRecordsAndShutsDownReportingTheExitCode) {
  bootDevice();
  // The class, then six subscriptions each announced and confirmed, then the loop.
  auto started = log();
  ASSERT_EQ(started.size(), 16u);
  EXPECT_EQ(started[0], "[INFO] - CP: Client push class created");
  std::vector<std::string> confirmed;
  std::copy_if(started.begin(), started.end(), std::back_inserter(confirmed),
               [](const std::string& line) { return line.ends_with(" subscribed."); });
  EXPECT_THAT(confirmed, ElementsAre("[INFO] - CP: Contact folder subscribed.",
                                     "[INFO] - CP: Calendar folder subscribed.",
                                     "[INFO] - CP: Task folder subscribed.",
                                     "[INFO] - CP: Briefcase folder subscribed.",
                                     "[INFO] - CP: Notes folder subscribed.",
                                     "[INFO] - CP: Piacture folder subscribed."));
  EXPECT_EQ(started[15], "[INFO] - CP: Init waiting PIM notification messages...");
  ASSERT_TRUE(waitForLog("CP: Item is " + pimAdd("contact", "Alice")));  // once recorded
  auto status = cedevice({"status"});
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_THAT(status.out, HasSubstr("clientPushList: 2 (contacts)"));
  EXPECT_THAT(status.out, HasSubstr("ClientPushWindowPicture"));
  // ICU is loaded for the first name beyond ASCII, not as the listener starts: one that met
  // only ASCII names maps none of it (catches ICU linked into the program again, and an ASCII
  // name that still goes through ICU).
  waitUntilHandled();  // file events too, their names looked up on the device
  int listener = recordedPid("listener.pid");
  std::string maps = ce::test::readFile("/proc/" + std::to_string(listener) + "/maps");
  EXPECT_THAT(maps, HasSubstr("notlstnr"));
  EXPECT_THAT(maps, Not(HasSubstr("libicu")));
  EXPECT_THAT(maps, Not(HasSubstr("/locale")));  // nor a locale's tables: it folds ASCII itself
  // Nor are the code-page tables in its memory: catches the tables back among the data every
  // process reads, where the kernel maps them with the pages around them.
  EXPECT_EQ(ce::test::residentPagesOfSection(listener, ".ce_code_pages"), 0);

  // Shutdown is the close message: the close runs to its end (the order of its steps is
  // PushWindowTest's) and the code is reported.
  EXPECT_EQ(cedevice({"boot", "--detach"}).exitCode, 1);  // a second boot is refused
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_EQ(down.out, "listener exited with code 0\n");
  auto entries = log();
  EXPECT_EQ(entries.back(), "[DEBUG] - Destroy wnd");
  // Everything was registered, so no deregistration failed.
  EXPECT_THAT(ce::test::entriesStartingWith(entries, {"Problem"}), IsEmpty());
  EXPECT_EQ(cedevice({"send", "close"}).exitCode, 1);
}

// Suspended by the tool or by any other program, a source is not recorded until resumed; status
// shows what the listener holds, because it asks the listener.
TEST_F(ListenerProcessTest, SuspendedSourcesShowInStatusAndAreNotRecordedUntilResumed) {
  bootDevice();
  ASSERT_EQ(cedevice({"send", "suspend", "calendar"}).exitCode, 0);
  HWND window = FindWindowW(L"ClientPushWindow", nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageW(window, WM_COMMAND, 3, 1));  // suspend tasks
  ASSERT_TRUE(PostMessageW(window, WM_COMMAND, 7, 1));  // suspend pictures
  ASSERT_TRUE(PostMessageW(window, WM_COMMAND, 7, 0));  // resume pictures
  ASSERT_TRUE(waitForLog("CP PIM WM_COMMAND resetFlag 7"));
  std::string dentist = pimAdd("appointment", "Dentist");
  ASSERT_TRUE(waitForLog("CP: Item is " + dentist));
  EXPECT_EQ(setting("clientPushList"), "0");
  auto status = cedevice({"status"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_THAT(status.out, HasSubstr("\nsuspended sources: calendar,tasks\n"));
  auto json = nlohmann::json::parse(cedevice({"status", "--json"}).out);
  EXPECT_EQ(json["suspendedSources"], nlohmann::json({"calendar", "tasks"}));

  ASSERT_EQ(cedevice({"send", "resume", "all"}).exitCode, 0);
  ASSERT_TRUE(waitForLog("CP PIM WM_COMMAND resetFlag 100"));
  ASSERT_EQ(cedevice({"pim", "change", dentist, "Dentist 2"}).exitCode, 0);
  ASSERT_TRUE(waitForLog("CP: Item is " + dentist, 2));
  EXPECT_EQ(setting("clientPushList"), "4");
}

// A listener started by hand beside the device's own refuses in one line and changes nothing:
// no line in the log, no subscription, no window. Catches a second listener that subscribes
// every source again (each change then recorded and scheduled twice).
TEST_F(ListenerProcessTest, ASecondListenerRefusesToStartAndChangesNothing) {
  bootDevice();
  const std::vector<std::string> logBefore = log();
  const int first = recordedPid("listener.pid");
  ce::Process& second = startListener();
  EXPECT_EQ(exitCodeOf(second, 10000), 1);
  const std::string said = ce::test::readFile(hostPath("notlstnr-test.out"));
  EXPECT_EQ(said, "notlstnr: a listener is already running on this device; "
                  "this one ends without starting\n");
  EXPECT_EQ(log(), logBefore);
  auto status = cedevice({"status", "--json"});
  ASSERT_EQ(status.exitCode, 0) << status.err;
  auto subscriptions = nlohmann::json::parse(status.out)["subscriptions"];
  ASSERT_EQ(subscriptions.size(), 3u) << status.out;
  for (const auto& subscription : subscriptions) EXPECT_EQ(subscription["pid"], first);
}

// The listener logs nothing of its failed log-on, but whoever started it learns that it
// could not start (its exit code) and why (its output).
TEST_F(ListenerProcessTest, CorruptPimStoreSkipsSubscriptionsAndExitsNonZeroSayingWhy) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  ce::test::writeFile(hostPath("system/pim.db"), std::string(4096, 'J'));
  EXPECT_EQ(exitCodeOf(startListener()), 1);
  EXPECT_THAT(log(), ElementsAre("[INFO] - CP: Client push class created", "[DEBUG] - Init Poom",
                                 "[DEBUG] - CP: Log on the IPOutlookApp2 interface"));
  std::string said = ce::test::readFile(hostPath("notlstnr-test.out"));
  EXPECT_THAT(said, HasSubstr("system/pim.db: reading the store: file is not a database"));
  EXPECT_THAT(said, HasSubstr("the listener stopped while starting"));
  EXPECT_EQ(ce::test::readFile(hostPath("system/pim.db")), std::string(4096, 'J'));
}

// With the wake-up marker unusable (a folder in its place), the start due at once still comes,
// and the listener's log says why the scheduler was not woken, in an error line: a device that
// logs only errors (and so never writes the start-up line, an info one) writes it too.
TEST_F(ListenerProcessTest, AStartDueAtOnceComesWithoutItsWakeUpAndTheListenerSaysWhy) {
  bootDevice({{"clientPushInterval", "0"}, {"logLevel", "0"}});
  std::filesystem::remove(hostPath("system/notify.committed"));
  std::filesystem::create_directory(hostPath("system/notify.committed"));
  ASSERT_NE(pimAdd("contact", "Bob"), "");
  ASSERT_TRUE(waitForLauncherRuns(1));
  EXPECT_THAT(launcherRuns(), ElementsAre(EndsWith(" sync contacts")));
  EXPECT_THAT(log(), ElementsAre("[ERROR] - CP: The start of \\Program Files\\Quillbex\\startsync"
                                 ".exe is requested, but the scheduler could not be woken "
                                 "(cannot touch system/notify.committed: Is a directory)"));
}

// A registry held by another writer past its wait: the change is kept with one ERROR line and
// goes out with the next change once the registry is free. (The retry on the loop's own timer,
// with no other change, is PushWindowTest.LoopWritesARefusedChangeOnItsOwnTimer.)
TEST_F(ListenerProcessTest, ChangeRefusedByABusyRegistryIsKeptAndSynchronisedLater) {
  setenv("CE_REGISTRY_BUSY_TIMEOUT_MS", "100", 1);  // for the processes the boot starts
  bootDevice({{"clientPushInterval", "0"}});
  ce::test::StoreWriter holder(hostPath("system/registry.db"));
  ASSERT_TRUE(holder.held());
  ASSERT_NE(pimAdd("contact", "Bob"), "");
  auto changed = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitForLog(
      "CP: clientPushList could not be written (error 170); the change is kept and retried"));
  // Well before the five seconds the listener would wait without the setting.
  EXPECT_LT(std::chrono::steady_clock::now() - changed, std::chrono::seconds(3));
  holder.release();
  ASSERT_NE(pimAdd("task", "Call Bob"), "");
  ASSERT_TRUE(waitForLauncherRuns(1));
  EXPECT_THAT(launcherRuns(), ElementsAre(EndsWith(" sync contacts,tasks")));
  EXPECT_EQ(ce::test::entriesStartingWith(log(), {"CP: clientPushList could not"}).size(), 1u);
}

// A registry.db restored by a rename while the device runs: before, the listener went on
// recording into the unlinked old file, unseen by every other process, and said nothing; then
// it refused every change for as long as another process of the device held the old file.
// The change goes into the restored file, and nothing is refused.
TEST_F(ListenerProcessTest, ARegistryRenamedOverWhileRunningIsWrittenFromThenOn) {
  bootDevice();
  ce::testing::reset();  // this process is no holder of the old file: only the device's are
  const std::string database = hostPath("system/registry.db");
  ASSERT_EQ(ce::test::sqlExec(database, "VACUUM INTO '" + database + ".restored'"), SQLITE_OK);
  ASSERT_EQ(std::rename((database + ".restored").c_str(), database.c_str()), 0);
  ASSERT_NE(pimAdd("contact", "Alice"), "");
  waitUntilHandled();
  EXPECT_EQ(setting("clientPushList"), "18");  // the contact and the notes
  EXPECT_THAT(ce::test::entriesStartingWith(log(), {"CP: clientPushList could not"}), IsEmpty());
  EXPECT_THAT(ce::test::readFile(hostPath("run/notlstnr.out")), Not(HasSubstr("ERROR")));
}

TEST_F(ListenerProcessTest, EmptyHomeStillStartsWithTheFoldersThatExist) {
  std::filesystem::create_directories(fsPath("My Documents/Notes"));
  startListener();
  ASSERT_TRUE(waitForLog("CP: Init waiting PIM notification messages..."));
  auto problems = ce::test::entriesStartingWith(log(), {"Problem notify folder"});
  EXPECT_EQ(problems.size(), 2u);  // Briefcase and Pictures are missing
  waitUntilHandled();
  EXPECT_EQ(setting("clientPushList"), "16");
}

class LauncherTest : public ce::test::DeviceProcessTest {
 protected:
  std::string launcher() { return fsPath("Program Files/Quillbex/startsync.exe"); }

  // A launcher held after it has taken the recorded sources and before it syncs them, until
  // `release()` or its kill; it has said so on its output when this returns.
  ce::Process& heldLauncher() {
    const std::string output = home() + "/startsync-held.out";
    ce::Process& held = spawn({launcher()}, output, {{"STARTSYNC_HOLD_UNTIL", releaseFile()}});
    EXPECT_TRUE(waitUntil([&] {
      return ce::test::readFile(output).find("startsync: holding until") != std::string::npos;
    }));
    return held;
  }

  void release() { ce::test::writeFile(releaseFile(), ""); }

  int runLauncher() { return exitCodeOf(spawn({launcher()})); }

 private:
  std::string releaseFile() { return home() + "/release"; }
};

// The launcher names the sources it synchronises, in table order, and clears only those.
TEST_F(LauncherTest, StartsyncNamesAndClearsExactlyTheRecordedSources) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  setSetting("clientPushList", "70");  // calendar, contacts, pictures
  ASSERT_EQ(runLauncher(), 0);
  EXPECT_EQ(setting("clientPushList"), "0");
  setSetting("clientPushList", "129");  // bits no source owns stay
  ASSERT_EQ(runLauncher(), 0);
  EXPECT_EQ(setting("clientPushList"), "129");
  std::string lines = ce::test::readFile(fsPath("startsync.txt"));
  EXPECT_THAT(lines, HasSubstr(" sync contacts,calendar,pictures\n"));
  EXPECT_THAT(lines, HasSubstr(" sync none\n"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

// A contact changed while a sync of contacts runs is there for the next sync: a launcher that
// read the list, synced, then cleared the bits it had read would wipe that change.
TEST_F(LauncherTest, AChangeMadeWhileTheLauncherRunsIsLeftForTheNextRun) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  setSetting("clientPushList", "6");  // contacts, calendar
  ce::Process& held = heldLauncher();
  setSetting("clientPushList", "2");  // the listener records a contact change meanwhile
  release();
  ASSERT_EQ(exitCodeOf(held), 0);
  EXPECT_THAT(launcherRuns(), ElementsAre(HasSubstr(" sync contacts,calendar")));
  EXPECT_EQ(setting("clientPushList"), "2");
}

// A sync that cannot record itself leaves its sources for the next run, beside what was
// recorded meanwhile: a launcher that took the bits and dropped them on the error loses them.
TEST_F(LauncherTest, AFailedSyncPutsItsSourcesBack) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  setSetting("clientPushList", "6");
  ce::Process& held = heldLauncher();
  setSetting("clientPushList", "16");  // a note recorded meanwhile
  std::filesystem::create_directory(fsPath("startsync.txt"));  // the record cannot be opened
  release();
  EXPECT_EQ(exitCodeOf(held), 1);
  EXPECT_EQ(setting("clientPushList"), "22");
}

// A launcher killed in the middle of its sync leaves what it took for the next run, and a run
// that ends leaves nothing taken behind. Catches a take held only in the killed process's
// memory (the next run says "sync none"), and a finished sync whose sources every later run
// syncs again.
TEST_F(LauncherTest, ALauncherKilledWhileSyncingLeavesItsSourcesForTheNextRun) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  setSetting("clientPushList", "6");  // contacts, calendar
  ce::Process& held = heldLauncher();
  ASSERT_TRUE(held.kill());
  ASSERT_NE(exitCodeOf(held), 0);
  setSetting("clientPushList", "8");  // tasks, recorded after the kill
  ASSERT_EQ(runLauncher(), 0);
  ASSERT_EQ(runLauncher(), 0);
  EXPECT_THAT(launcherRuns(), ElementsAre(EndsWith(" sync contacts,calendar,tasks"),
                                          EndsWith(" sync none")));
  EXPECT_EQ(setting("clientPushList"), "0");
  EXPECT_EQ(setting("clientPushTaken"), "");
}

// Changes made while the device's listener is down, seen by booting it again. Each wait is
// on the log: the line that ends the listener's start, counted across boots.
using OfflineChangesProcessTest = ce::test::DeviceProcessTest;

TEST_F(OfflineChangesProcessTest, ChangesMadeWhileKilledOrShutDownAreRecordedAtTheNextBoot) {
  auto boot = [&](int nth) {
    auto result = cedevice({"boot", "--detach"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    ASSERT_TRUE(waitForLog("CP: Init waiting PIM notification messages...", nth));
  };
  auto offlineLines = [&] {
    return ce::test::entriesStartingWith(log(), {"CP: Changes while stopped"});
  };
  bootDevice();  // which returns once the listener has logged that it is ready
  // A live change first: recorded then, and not again after the kill.
  ASSERT_TRUE(waitForLog("CP: Item is " + pimAdd("contact", "Ann")));
  ASSERT_EQ(setting("clientPushList"), "2");
  // The whole device killed: the boot first, which would restart a listener killed alone.
  int supervisor = recordedPid("boot.pid");
  int listener = recordedPid("listener.pid");
  ASSERT_TRUE(ce::test::signalProcess(supervisor, SIGKILL));
  ce::test::signalProcess(listener, SIGKILL);
  ASSERT_TRUE(waitUntil([&] {
    return !ce::test::running(supervisor) && !ce::test::running(listener);
  }));
  ce::test::writeFile(fsPath("My Documents/My Pictures/IMG_01.JPG"), "picture");
  setSetting("clientPushList", "0");
  boot(2);
  EXPECT_THAT(offlineLines(), ElementsAre("[INFO] - CP: Changes while stopped: pictures"));
  EXPECT_EQ(setting("clientPushList"), "64");
  EXPECT_EQ(ce::notify::pendingRequests().size(), 1u);

  ASSERT_EQ(cedevice({"shutdown"}).exitCode, 0);
  ASSERT_NE(pimAdd("task", "milk"), "");
  ce::test::writeFile(fsPath("My Documents/Notes/memo.pwi"), "remember");
  setSetting("clientPushList", "0");
  boot(3);
  EXPECT_THAT(offlineLines(), ElementsAre("[INFO] - CP: Changes while stopped: pictures",
                                          "[INFO] - CP: Changes while stopped: tasks, notes"));
  EXPECT_EQ(setting("clientPushList"), "24");
}

}  // namespace
