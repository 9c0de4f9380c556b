// The device home as its owner and others meet it: private whatever the umask, written only
// inside itself, a broken store named, a crash leaving nothing behind, and the listener's own
// state shown from outside.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/process.h"
#include "tests/e2e/device_fixture.h"

namespace {

namespace fs = std::filesystem;
using DeviceHomeProcessTest = ce::test::DeviceProcessTest;
using ce::test::running;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const std::string junk(4096, 'J');

// Sets the process umask for one test; the device tool and what it starts inherit it.
class Umask {
 public:
  explicit Umask(mode_t mask) : saved_(umask(mask)) {}
  ~Umask() { umask(saved_); }

 private:
  mode_t saved_;
};

// Every entry of `home` whose mode is not the device's own: 0700 folders (and the launcher),
// 0600 files and sockets. The tool's captured errors are the test's own file.
std::vector<std::string> entriesOpenToOthers(const std::string& home) {
  std::vector<fs::path> paths{home};
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(home, error);
       it != fs::recursive_directory_iterator(); it.increment(error))
    if (it->path().filename() != ".cedevice.err") paths.push_back(it->path());
  std::vector<std::string> open;
  for (const fs::path& path : paths) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) continue;
    mode_t wanted = S_ISDIR(info.st_mode) || path.filename() == "startsync.exe" ? 0700 : 0600;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o ", info.st_mode & 07777);
    if ((info.st_mode & 07777) != wanted) open.push_back(mode + path.string());
  }
  return open;
}

// Runs `cedevice ARGS` as the user nobody (see canSwitchUser).
ce::test::ToolRun asNobody(const std::string& home, const std::vector<std::string>& args) {
  return ce::test::runShell("setpriv --reuid=nobody --regid=nogroup --clear-groups " +
                                ce::test::cedeviceCommand(home, args),
                            home + "/.nobody.err");
}

bool canSwitchUser() {
  return geteuid() == 0 && ce::test::runShell("setpriv --reuid=nobody true", "/dev/null")
                                   .exitCode == 0;
}

// Whatever the umask, everything the device makes in its home is its owner's alone; a home
// that an older version left open is made private by the next boot, which says so once.
TEST_F(DeviceHomeProcessTest, TheHomeIsItsOwnersAloneUnderAnyUmaskAndAfterAnOlderVersion) {
  Umask loose(022);
  bootDevice({{"clientPushInterval", "0"}});
  ASSERT_NE(pimAdd("contact", "Ann"), "");
  ASSERT_TRUE(waitForLauncherRuns(1));
  ASSERT_EQ(cedevice({"send", "suspend", "tasks"}).exitCode, 0);
  ASSERT_TRUE(waitForLog("CP PIM WM_COMMAND setFlag 3"));
  // Live, with every store, log, socket, window file, lock and output file in place.
  EXPECT_THAT(entriesOpenToOthers(home()), IsEmpty());
  ASSERT_EQ(cedevice({"shutdown"}).exitCode, 0);
  EXPECT_THAT(entriesOpenToOthers(home()), IsEmpty());

  for (auto& entry : fs::recursive_directory_iterator(home()))
    if (!entry.is_symlink())
      fs::permissions(entry.path(), fs::perms::group_read | fs::perms::others_read,
                      fs::perm_options::add);
  fs::permissions(home(), fs::perms::group_exec | fs::perms::others_exec |
                              fs::perms::others_read, fs::perm_options::add);
  auto boot = cedevice({"boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.err;
  // A warning: on standard error, so that what the boot prints stays the same.
  EXPECT_THAT(boot.out, StartsWith("device booted")) << boot.out;
  EXPECT_THAT(boot.err, StartsWith("cedevice: warning: made the device home its owner's alone"));
  EXPECT_EQ(std::count(boot.err.begin(), boot.err.end(), '\n'), 1) << boot.err;
  EXPECT_THAT(entriesOpenToOthers(home()), IsEmpty());
  auto again = cedevice({"shutdown"});
  EXPECT_EQ(again.exitCode, 0) << again.err;
  auto quiet = cedevice({"boot", "--detach"});
  EXPECT_THAT(quiet.out, StartsWith("device booted")) << quiet.out;
}

// Another user learns nothing, not even whether the device runs.
TEST_F(DeviceHomeProcessTest, AnotherUserIsDeniedInOneLine) {
  if (!canSwitchUser())
    GTEST_SKIP() << "cannot switch to the user nobody (needs root and setpriv)";
  bootDevice();
  ASSERT_EQ(cedevice({"pim", "add", "contact", "Secret"}).exitCode, 0);
  const std::vector<std::vector<std::string>> commands = {
      {"status"}, {"pim", "list"}, {"reg", "get", "HKLM\\Software\\Quillbex\\SyncclientPIM"},
      {"log"},    {"schedule"},    {"boot", "--detach"}, {"init"}, {"shutdown"}};
  for (const auto& command : commands) {
    auto run = asNobody(home(), command);
    EXPECT_EQ(run.exitCode, 1) << command[0] << ": " << run.out << run.err;
    EXPECT_EQ(run.out, "") << command[0];
    EXPECT_THAT(run.err, HasSubstr("permission denied")) << command[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command[0] << run.err;
  }
  // (That the stores' files, shared-memory indexes included, would refuse a reader even were
  // the folders passable is the umask test's: each is 0600 while the device runs.)
  EXPECT_EQ(cedevice({"status"}).exitCode, 0);
}

// A link planted in place of the log stops the boot; outside files are never written.
TEST_F(DeviceHomeProcessTest, LinksPlantedInPlaceOfTheDevicesFilesAreNeverWrittenThrough) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const std::string outside = hostPath("outside.txt");
  ce::test::writeFile(outside, "kept\n");
  for (const char* planted : {"fs/notlstnr.txt", "fs/startsync.txt", "run/boot.log",
                              "system/registry.db", "run/notlstnr.out"}) {
    for (const char* suffix : {"", "-wal", "-shm"})
      fs::remove(hostPath(planted + std::string(suffix)));
    fs::create_symlink(outside, hostPath(planted));
    auto boot = cedevice({"boot", "--detach"});
    EXPECT_EQ(boot.exitCode, 1) << planted;
    EXPECT_THAT(boot.err, HasSubstr("symbolic link")) << planted;
    EXPECT_EQ(std::count(boot.err.begin(), boot.err.end(), '\n'), 1) << boot.err;
    fs::remove(hostPath(planted));
  }
  EXPECT_EQ(ce::test::readFile(outside), "kept\n");

  // Planted while the device runs: the launcher refuses and says so in the log.
  bootDevice({{"clientPushInterval", "0"}});
  fs::create_symlink(outside, fsPath("startsync.txt"));
  ASSERT_EQ(cedevice({"pim", "add", "contact", "Ann"}).exitCode, 0);
  EXPECT_TRUE(waitForLog(
      "startsync: cannot open \\startsync.txt (error 5); nothing synchronised"));
  EXPECT_EQ(ce::test::readFile(outside), "kept\n");
  EXPECT_EQ(setting("clientPushList"), "2");  // kept for a run that can record it
}

// Each broken store is named with its cause, by every command that needs it, and no
// command writes over it.
TEST_F(DeviceHomeProcessTest, ABrokenStoreIsNamedByEveryCommandAndNeverOverwritten) {
  struct Case {
    const char* store;
    std::vector<std::vector<std::string>> commands;
  };
  const Case cases[] = {
      {"registry.db",
       {{"status"}, {"reg", "get", "HKLM\\Software\\Quillbex"}, {"init"}, {"boot", "--detach"}}},
      {"pim.db", {{"status"}, {"pim", "list"}, {"boot", "--detach"}}},
      {"notify.db", {{"status"}, {"schedule"}, {"boot", "--detach"}}},
  };
  for (const Case& broken : cases) {
    ASSERT_EQ(cedevice({"init"}).exitCode, 0);
    for (const char* suffix : {"", "-wal", "-shm"})
      fs::remove(hostPath(std::string("system/") + broken.store + suffix));
    ce::test::writeFile(hostPath(std::string("system/") + broken.store), junk);
    const std::string named =
        "cedevice: system/" + std::string(broken.store) + ": file is not a database\n";
    for (const auto& command : broken.commands) {
      auto run = cedevice(command);
      EXPECT_EQ(run.exitCode, 1) << broken.store << " " << command[0];
      // status shows the rest and names the store; the others say only that, after the
      // warning of init and boot that the junk file was made private.
      if (command[0] == "status")
        EXPECT_EQ(run.err, named) << run.out;
      else
        EXPECT_EQ(run.err.substr(run.err.find("cedevice: system/")), named) << command[0];
    }
    EXPECT_EQ(ce::test::readFile(hostPath(std::string("system/") + broken.store)), junk);
    fs::remove(hostPath(std::string("system/") + broken.store));
  }
}

// Of two boots at once one boots and the other says only that the device runs; the boot
// log holds one boot's lines.
TEST_F(DeviceHomeProcessTest, OfTwoBootsAtOnceTheLoserSaysOnlyAlreadyRunning) {
  bootDevice({{"clientPushInterval", "0"}});
  ASSERT_NE(pimAdd("contact", "Ann"), "");
  ASSERT_TRUE(waitForLauncherRuns(1));
  ASSERT_THAT(ce::test::readFile(hostPath("run/boot.log")), HasSubstr(" started "));
  ASSERT_EQ(cedevice({"shutdown"}).exitCode, 0);

  const std::string outputs[] = {hostPath("boot0.out"), hostPath("boot1.out")};
  ce::Process* boots[2];
  for (int i : {0, 1})
    boots[i] = &spawn({ce::test::cedevicePath(), "--home", home(), "boot", "--detach"}, outputs[i]);
  const int codes[] = {exitCodeOf(*boots[0]), exitCodeOf(*boots[1])};
  const std::string said[] = {ce::test::readFile(outputs[0]), ce::test::readFile(outputs[1])};
  ASSERT_EQ((codes[0] == 0) + (codes[1] == 0), 1) << said[0] << said[1];
  const std::string& loser = said[codes[0] == 0 ? 1 : 0];
  EXPECT_THAT(loser, StartsWith("cedevice: the device is already running"));
  EXPECT_EQ(std::count(loser.begin(), loser.end(), '\n'), 1) << loser;
  EXPECT_THAT(ce::test::readFile(hostPath("run/boot.log")), Not(HasSubstr(" started ")));
}

// A device whose scheduler was killed is not reported as running. Once the listener and the
// supervisor are killed too, the next boot clears their subscriptions, sockets and window files.
TEST_F(DeviceHomeProcessTest, KilledProcessesShowInStatusAndTheNextBootClearsWhatTheyLeft) {
  bootDevice();
  const int dead = recordedPid("listener.pid");
  std::vector<int> pids;
  for (const char* record : {"scheduler.pid", "listener.pid", "boot.pid"}) {
    pids.push_back(recordedPid(record));
    ASSERT_GT(pids.back(), 0) << record;
  }
  ASSERT_EQ(kill(pids[0], SIGKILL), 0);
  ASSERT_TRUE(waitUntil([&] { return !running(pids[0]); }));
  auto stopped = cedevice({"status"});
  EXPECT_EQ(stopped.exitCode, 3);
  EXPECT_THAT(stopped.out, HasSubstr("listener: running"));
  EXPECT_THAT(stopped.out, HasSubstr("scheduler: not running"));
  EXPECT_THAT(stopped.err, HasSubstr("the scheduler is not running"));

  // The supervisor may see the listener end and go on its own before its turn comes.
  ASSERT_EQ(kill(dead, SIGKILL), 0);
  for (int pid : pids) kill(pid, SIGKILL);
  ASSERT_TRUE(waitUntil([&] { return std::none_of(pids.begin(), pids.end(), running); }));
  bootDevice();
  const int live = recordedPid("listener.pid");
  char deadWindows[32];
  std::snprintf(deadWindows, sizeof deadWindows, "window.%08x", static_cast<unsigned>(dead));
  for (const auto& entry : fs::directory_iterator(hostPath("run"))) {
    std::string name = entry.path().filename().string();
    EXPECT_NE(name, "socket." + std::to_string(dead));
    EXPECT_FALSE(name.starts_with(deadWindows)) << name;
  }
  auto status = cedevice({"status", "--json"});
  ASSERT_EQ(status.exitCode, 0) << status.err;
  auto subscriptions = nlohmann::json::parse(status.out)["subscriptions"];
  ASSERT_EQ(subscriptions.size(), 3u) << status.out;
  for (const auto& subscription : subscriptions) EXPECT_EQ(subscription["pid"], live);
}

}  // namespace
