// The device home as its owner and others meet it: private whatever the umask, written only
// inside itself, a broken store named, a crash leaving nothing behind, and the listener's own
// state shown from outside.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/process.h"
#include "platform/windows.h"
#include "tests/e2e/device_fixture.h"
#include "tests/platform/child_processes.h"
#include "tests/support/sqlite_file.h"

namespace {

namespace fs = std::filesystem;
using DeviceHomeProcessTest = ce::test::DeviceProcessTest;
using ce::test::running;
using ::testing::ElementsAre;
using ::testing::EndsWith;
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

// A home someone else made, or may write, is refused by every command in one line naming it:
// its maker could rename the device's folders and plant a launcher that the scheduler would
// run as the device's user. Catches a check on modes alone, or one made only by some commands.
TEST_F(DeviceHomeProcessTest, AHomeAnotherUserOwnsOrMayWriteIsRefusedInOneLine) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a home that another user owns";
  const std::string theirs = hostPath("theirs");
  for (const char* folder : {"", "/fs", "/system"}) {
    fs::create_directory(theirs + folder);
    ASSERT_EQ(chown((theirs + folder).c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod((theirs + folder).c_str(), 0777), 0);
  }
  const std::vector<std::vector<std::string>> commands = {
      {"init"}, {"boot", "--detach"}, {"status"}, {"pim", "list"}, {"shutdown"}};
  for (const auto& command : commands) {
    auto run = ce::test::runShell(ce::test::cedeviceCommand(theirs, command),
                                  hostPath(".theirs.err"));
    EXPECT_EQ(run.exitCode, 1) << command[0] << ": " << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(theirs + ": owned by uid 65534")) << command[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command[0] << run.err;
  }
  // Root's look included: nothing made in another user's home, which its owner could not use.
  EXPECT_TRUE(fs::is_empty(theirs + "/system"));
  EXPECT_FALSE(fs::exists(theirs + "/run"));
  // Below a folder another user owns, nothing is made either.
  auto below = ce::test::runShell(ce::test::cedeviceCommand(theirs + "/dev", {"init"}),
                                  hostPath(".theirs.err"));
  EXPECT_EQ(below.exitCode, 1);
  EXPECT_FALSE(fs::exists(theirs + "/dev"));

  // A home of our own that others may write is refused the same way.
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  ASSERT_EQ(chmod(hostPath("fs").c_str(), 0777), 0);
  auto open = cedevice({"status"});
  EXPECT_EQ(open.exitCode, 1);
  EXPECT_THAT(open.err, HasSubstr(hostPath("fs") + ": writable by other users"));
  ASSERT_EQ(chmod(hostPath("fs").c_str(), 0700), 0);
}

// A launcher planted by another user is never started: the scheduler names it and drops the
// run. Catches a scheduler that checks only that the program is executable.
TEST_F(DeviceHomeProcessTest, ALauncherAnotherUserPlantedIsNeverStarted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a file that another user owns";
  bootDevice({{"clientPushInterval", "0"}});
  const std::string folder = fsPath("Program Files/Quillbex");
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  ASSERT_NE(pimAdd("contact", "Ann"), "");
  EXPECT_TRUE(ce::test::waitForText(hostPath("run/boot.log"),
                                    folder + ": owned by uid 65534",
                                    std::chrono::milliseconds(patienceMs)));
  EXPECT_THAT(launcherRuns(), IsEmpty());
  ASSERT_EQ(chown(folder.c_str(), 0, 0), 0);
}

// A listener whose socket was removed (a cleaner of temporary files, a stray rm) still runs
// but hears nothing. Catches a post that takes it for a window that is gone: the change's
// notification lost with exit 0, its subscriptions ended, status healthy, shutdown failing.
TEST_F(DeviceHomeProcessTest, AListenerThatCannotBeReachedIsReportedAndStillStopped) {
  bootDevice();
  const int pid = recordedPid("listener.pid");
  ASSERT_TRUE(fs::remove(hostPath("run/socket." + std::to_string(pid))));
  auto add = cedevice({"pim", "add", "contact", "Ann"});
  EXPECT_EQ(add.exitCode, 1);
  EXPECT_THAT(add.err, HasSubstr("could not be reached"));
  EXPECT_EQ(std::count(add.err.begin(), add.err.end(), '\n'), 1) << add.err;
  auto send = cedevice({"send", "suspend", "tasks"});
  EXPECT_EQ(send.exitCode, 1);
  EXPECT_THAT(send.err, HasSubstr("the listener cannot be reached"));
  auto status = cedevice({"status", "--json"});
  EXPECT_EQ(status.exitCode, 3);
  EXPECT_THAT(status.err, HasSubstr("cannot be reached"));
  auto json = nlohmann::json::parse(status.out);
  EXPECT_EQ(json["listener"]["reachable"], false);
  EXPECT_EQ(json["subscriptions"].size(), 3u) << status.out;
  auto stop = cedevice({"shutdown"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err;
  EXPECT_FALSE(running(pid));
}

// A FIFO or a folder planted where the device keeps a record, its log or its log's lock is
// refused in one line naming it, and nothing waits on it. Catches readers that open a FIFO
// and block (status, shutdown and boot hung), and a boot that waits 10 s for a log line that
// cannot be written and then blames the listener.
TEST_F(DeviceHomeProcessTest, AFifoOrFolderInPlaceOfADeviceFileIsNamedAndNeverWaitedOn) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  const std::string output = hostPath("bounded.out");
  auto bounded = [&](const std::vector<std::string>& args) {
    fs::remove(output);
    std::vector<std::string> argv{ce::test::cedevicePath(), "--home", home()};
    argv.insert(argv.end(), args.begin(), args.end());
    int code = exitCodeOf(spawn(argv, output));
    return std::pair{code, ce::test::readFile(output)};
  };
  for (const char* record : {"run/boot.pid", "run/scheduler.pid", "run/listener.pid"}) {
    ASSERT_EQ(mkfifo(hostPath(record).c_str(), 0600), 0);
    for (const auto& command : std::vector<std::vector<std::string>>{{"status"}, {"shutdown"}})
      EXPECT_NE(bounded(command).first, -1) << record << " " << command[0];
    auto [code, said] = bounded({"boot", "--detach"});
    EXPECT_EQ(code, 1) << record << said;
    EXPECT_THAT(said, HasSubstr(hostPath(record) + ": not a regular file")) << record;
    fs::remove(hostPath(record));
  }
  ASSERT_EQ(mkfifo(fsPath("notlstnr.txt").c_str(), 0600), 0);
  auto fifoLog = bounded({"boot", "--detach"});
  EXPECT_EQ(fifoLog.first, 1);
  EXPECT_EQ(fifoLog.second,
            "cedevice: fs/notlstnr.txt is not a regular file; the device writes its log there: "
            "remove it\n");
  fs::remove(fsPath("notlstnr.txt"));

  const std::string lock = hostPath("run/mutex.notlstnr.txt.lock");
  fs::remove(lock);
  fs::create_directory(lock);
  auto folderLock = bounded({"boot", "--detach"});
  EXPECT_EQ(folderLock.first, 1);
  EXPECT_THAT(folderLock.second, HasSubstr(lock + " is not a regular file"));
  fs::remove(lock);

  // Another process holds the log's lock, as a writer does for a line, but all along.
  {
    ce::test::Pipe taken, release;
    ce::test::ChildProcess holder([&] {
      HANDLE mutex = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
      taken.send(mutex && GetLastError() == ERROR_SUCCESS ? 't' : 'f');
      release.block();
      return 0;
    });
    char answer = 0;
    ASSERT_TRUE(taken.receive(answer));
    ASSERT_EQ(answer, 't');
    auto heldLock = bounded({"boot", "--detach"});
    EXPECT_EQ(heldLock.first, 1);
    EXPECT_THAT(heldLock.second, HasSubstr(lock + " is held by another process"));
  }

  // A new lock file that another program keeps an flock on (as a build that locked with flock
  // did) is refused in a bounded time, never waited on.
  fs::remove(lock);
  ce::test::writeFile(lock, "");
  int held = open(lock.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  auto flockedLock = bounded({"boot", "--detach"});
  EXPECT_EQ(flockedLock.first, 1);
  EXPECT_THAT(flockedLock.second, HasSubstr(lock + ": cannot be locked"));
  close(held);
}

// Under umask 0277 a user who is not root boots, posts to and stops the device. Catches a
// socket bound with the umask taken away from its mode: its owner could not connect to it
// (root can, so only another user sees it), and boot failed with error 1400.
TEST_F(DeviceHomeProcessTest, AUserWhoIsNotRootBootsUnderTheTightestUmask) {
  if (!canSwitchUser())
    GTEST_SKIP() << "cannot switch to the user nobody (needs root and setpriv)";
  char pattern[] = "/tmp/cedevice-nobody-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string theirs = pattern;
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  auto asNobodyUnder0277 = [&](const std::vector<std::string>& args) {
    return ce::test::runShell("setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c " +
                                  ce::test::shellQuoted("umask 0277; " +
                                                        ce::test::cedeviceCommand(theirs, args)),
                              home() + "/.nobody.err");
  };
  auto boot = asNobodyUnder0277({"boot", "--detach"});
  EXPECT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  auto send = asNobodyUnder0277({"send", "suspend", "tasks"});
  EXPECT_EQ(send.exitCode, 0) << send.err;
  auto stop = asNobodyUnder0277({"shutdown"});
  EXPECT_EQ(stop.exitCode, 0) << stop.err;
  fs::remove_all(theirs);
}

// A home named through a folder that does not exist ("X/missing/../dev") is X/dev, as
// `cedevice home` prints it. Catches a command that handed the name on as given: the kernel
// walked through "missing", and the home's creation made it.
TEST_F(DeviceHomeProcessTest, AHomeNamedThroughAMissingFolderMakesNothingOnTheWay) {
  const std::string errors = hostPath(".dev.err");
  ASSERT_EQ(ce::test::runShell(ce::test::cedeviceCommand(hostPath("dev"), {"init"}), errors)
                .exitCode,
            0);
  auto list = ce::test::runShell(
      ce::test::cedeviceCommand(hostPath("missing/../dev"), {"pim", "list"}), errors);
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_FALSE(fs::exists(hostPath("missing")));
}

// A home whose path is too long for the stores is refused before anything is made. Catches
// an init that made the folders and then failed on the registry ("unable to open database").
TEST_F(DeviceHomeProcessTest, AHomePathTooLongForItsStoresIsRefusedBeforeAnythingIsMade) {
  const std::string deep = hostPath(std::string(240, 'd')) + "/" + std::string(240, 'e');
  auto init = ce::test::runShell(ce::test::cedeviceCommand(deep, {"init"}), hostPath(".long.err"));
  EXPECT_EQ(init.exitCode, 1);
  EXPECT_THAT(init.err, HasSubstr("the device home's path is too long"));
  EXPECT_EQ(std::count(init.err.begin(), init.err.end(), '\n'), 1) << init.err;
  EXPECT_FALSE(fs::exists(deep));
}

// The listener or the launcher run by hand where there is no device, with no home named,
// fails and makes nothing. Catches a program that silently made ./device and ran on it.
TEST_F(DeviceHomeProcessTest, AProgramRunByHandWithoutADeviceMakesNone) {
  const std::string folder = hostPath("elsewhere");
  fs::create_directory(folder);
  for (const char* program : {"notlstnr/notlstnr", "startsync/startsync"}) {
    auto run = ce::test::runShell("cd " + ce::test::shellQuoted(folder) +
                                      " && env -u CE_DEVICE_HOME " +
                                      ce::test::shellQuoted(ce::test::buildDir() + "/apps/" +
                                                            program),
                                  hostPath(".byhand.err"));
    EXPECT_NE(run.exitCode, 0) << program;
    EXPECT_FALSE(fs::exists(folder + "/device")) << program << ": " << run.out << run.err;
  }
}

// A control message sent with its output lost still says that it was carried out. Catches a
// failure line that reads as if the source had not been suspended.
TEST_F(DeviceHomeProcessTest, AMessageWhoseOutputIsLostSaysItWasCarriedOut) {
  bootDevice();
  auto full = ce::test::runShell(
      ce::test::cedeviceCommand(home(), {"send", "suspend", "tasks"}) + " >/dev/full",
      hostPath(".full.err"));
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_THAT(full.err, HasSubstr("the command was carried out"));
  auto status = cedevice({"status", "--json"});
  EXPECT_EQ(nlohmann::json::parse(status.out)["suspendedSources"], nlohmann::json({"tasks"}));
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

// A store that SQLite opens but that is not ours, or a registry whose root key has a parent
// (its tree a cycle), is named in one line and left as it is: an unnamed "error 1009", a
// foreign run-at-time store adopted and written into, or an export walking the cycle forever
// are the faults.
TEST_F(DeviceHomeProcessTest, AForeignOrCyclicStoreIsNamedAndLeftAsItIs) {
  struct Case {
    const char* store;
    const char* sql;
    const char* problem;
    std::vector<std::vector<std::string>> commands;
  };
  const Case cases[] = {
      {"registry.db", "CREATE TABLE photos(name); INSERT INTO photos VALUES('kept')",
       "not a registry store of this device",
       {{"status"}, {"reg", "export"}, {"boot", "--detach"}}},
      {"notify.db", "CREATE TABLE photos(name); INSERT INTO photos VALUES('kept')",
       "not a run-at-time store of this device", {{"status"}, {"schedule"}, {"boot", "--detach"}}},
      {"registry.db", "UPDATE keys SET parent = 1 WHERE id = 1",
       "its key tree is a cycle: the root key has a parent key",
       {{"reg", "export"}, {"reg", "get", "HKLM\\Software\\Quillbex"}}},
  };
  for (const Case& broken : cases) {
    ASSERT_EQ(cedevice({"init"}).exitCode, 0);
    const std::string store = hostPath(std::string("system/") + broken.store);
    if (std::string(broken.sql).rfind("CREATE", 0) == 0)
      for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
    ASSERT_EQ(ce::test::sqlExec(store, broken.sql), SQLITE_OK);
    const std::string before = ce::test::sqlValue(store, "SELECT group_concat(sql) FROM sqlite_master");
    const std::string named =
        "cedevice: system/" + std::string(broken.store) + ": " + broken.problem + "\n";
    for (const auto& command : broken.commands) {
      auto run = cedevice(command);
      EXPECT_EQ(run.exitCode, 1) << broken.store << " " << command[0];
      EXPECT_THAT(run.err, EndsWith(named)) << command[0];
    }
    EXPECT_EQ(ce::test::sqlValue(store, "SELECT group_concat(sql) FROM sqlite_master"), before);
    EXPECT_EQ(ce::test::sqlValue(store, "PRAGMA journal_mode"),
              std::string(broken.sql).rfind("CREATE", 0) == 0 ? "delete" : "wal");
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(store + suffix);
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

// Whether `signalNumber` waits, not yet taken, for the stopped process `pid`.
bool signalPending(int pid, int signalNumber) {
  std::string status = ce::test::readFile("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("ShdPnd:");
  if (at == std::string::npos) return false;
  unsigned long long mask = std::strtoull(status.c_str() + at + 7, nullptr, 16);
  return (mask >> (signalNumber - 1)) & 1;
}

// A listener that did not close cleanly (killed while the device stopped) makes the shutdown
// end non-zero, with one line that says so. Catches a shutdown that exits 0 although what the
// listener was recording may be lost. The supervisor is held still until the shutdown has
// asked it to stop, so that it sees the listener's end together with that request and does
// not restart it.
TEST_F(DeviceHomeProcessTest, AShutdownOfAKilledListenerEndsNonZeroSayingSo) {
  bootDevice();
  const int supervisor = recordedPid("boot.pid"), listener = recordedPid("listener.pid");
  ASSERT_TRUE(ce::test::signalProcess(supervisor, SIGSTOP));
  ASSERT_TRUE(ce::test::signalProcess(listener, SIGKILL));
  ASSERT_TRUE(waitUntil([&] { return !running(listener); }));
  const std::string output = hostPath(".shutdown.out");
  ce::Process& stop = spawn({ce::test::buildDir() + "/apps/cedevice/cedevice", "shutdown"}, output);
  bool asked = waitUntil([&] { return signalPending(supervisor, SIGTERM); });
  ASSERT_TRUE(ce::test::signalProcess(supervisor, SIGCONT));
  ASSERT_TRUE(asked);
  EXPECT_EQ(exitCodeOf(stop), 1);
  EXPECT_EQ(ce::test::readFile(output),
            "listener exited with code 137\n"
            "cedevice: the listener did not exit cleanly (exit code 137)\n");
  EXPECT_THAT(ce::test::readFile(hostPath("run/boot.log")), Not(HasSubstr("restarting")));
}

// A scheduler or a listener that dies while the device runs is started again, each restart
// said in run/boot.log, up to 3 times; after that a device without its scheduler is not
// reported as running. Catches a boot that leaves a due start waiting for the next boot, and
// one that restarts for ever. Once the listener and the supervisor are killed too, the next
// boot clears their subscriptions, sockets and window files.
TEST_F(DeviceHomeProcessTest, KilledProcessesAreRestartedABoundedNumberOfTimesThenCleared) {
  bootDevice();
  const std::string bootLog = hostPath("run/boot.log");
  auto restartedAfter = [&](const char* record, int before) {
    return waitUntil([&] {
      int now = recordedPid(record);
      return now != 0 && now != before && running(now);
    });
  };
  const int first = recordedPid("listener.pid");
  ASSERT_TRUE(ce::test::signalProcess(first, SIGKILL));
  EXPECT_TRUE(ce::test::waitForText(
      bootLog, "the listener ended (exit code 137); restarting it (1 of 3)",
      std::chrono::milliseconds(patienceMs)));
  ASSERT_TRUE(restartedAfter("listener.pid", first));
  for (int restart = 1; restart <= 3; ++restart) {
    const int scheduler = recordedPid("scheduler.pid");
    ASSERT_TRUE(ce::test::signalProcess(scheduler, SIGKILL));
    EXPECT_TRUE(ce::test::waitForText(
        bootLog,
        "the scheduler ended (exit code 137); restarting it (" + std::to_string(restart) + " of 3)",
        std::chrono::milliseconds(patienceMs)))
        << ce::test::readFile(bootLog);
    ASSERT_TRUE(restartedAfter("scheduler.pid", scheduler)) << restart;
  }
  const int last = recordedPid("scheduler.pid");
  ASSERT_TRUE(ce::test::signalProcess(last, SIGKILL));
  ASSERT_TRUE(waitUntil([&] { return !running(last); }));
  ASSERT_TRUE(ce::test::waitForText(bootLog, "the scheduler ended (exit code 137)\n",
                                    std::chrono::milliseconds(patienceMs)));
  auto stopped = cedevice({"status"});
  EXPECT_EQ(stopped.exitCode, 3);
  EXPECT_THAT(stopped.out, HasSubstr("listener: running"));
  EXPECT_THAT(stopped.out, HasSubstr("scheduler: not running"));
  EXPECT_THAT(stopped.err, HasSubstr("the scheduler is not running"));

  const int dead = recordedPid("listener.pid");
  std::vector<int> pids;
  for (const char* record : {"boot.pid", "listener.pid"}) {
    pids.push_back(recordedPid(record));
    ASSERT_GT(pids.back(), 0) << record;
  }
  // The supervisor first, so that it restarts nothing.
  for (int pid : pids) ce::test::signalProcess(pid, SIGKILL);
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
