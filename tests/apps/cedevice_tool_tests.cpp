// cedevice as a person uses it: what it refuses, how it names mistakes, its exit codes and
// its machine-readable output.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/process.h"
#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

namespace {

using ce::test::runCedevice;
using ce::test::shellQuoted;
using ce::test::ToolRun;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

class CedeviceToolTest : public ce::test::DeviceTest {
 protected:
  ToolRun cedevice(const std::vector<std::string>& args) { return runCedevice(home(), args); }
  void init() { ASSERT_EQ(cedevice({"init"}).exitCode, 0); }
  ToolRun pim(std::vector<std::string> args) {
    args.insert(args.begin(), "pim");
    return cedevice(args);
  }

  // The tool on a home that may not exist, with `redirect` appended to the command line.
  ToolRun onHome(const std::string& deviceHome, const std::vector<std::string>& args,
                 const std::string& redirect = "") {
    std::string command = ce::test::shellQuoted(ce::test::buildDir() + "/apps/cedevice/cedevice") +
                          " --home " + ce::test::shellQuoted(deviceHome);
    for (const auto& arg : args) command += " " + ce::test::shellQuoted(arg);
    return ce::test::runShell(command + redirect, home() + "/.tool.err");
  }
};

TEST_F(CedeviceToolTest, HomesWithoutADeviceAreRefusedAndLeftAsTheyWere) {
  const std::vector<std::vector<std::string>> readers = {
      {"status"}, {"log"}, {"schedule"}, {"reg", "get", "HKLM"}, {"reg", "export"},
      {"pim", "list"}, {"send", "close"}, {"shutdown"}};
  std::string typo = home() + "/no-such-device";
  for (const auto& args : readers) {
    ToolRun run = onHome(typo, args);
    EXPECT_EQ(run.exitCode, 1) << args[0];
    EXPECT_THAT(run.err, HasSubstr("no device in " + typo + " (run `cedevice init`)")) << args[0];
    EXPECT_FALSE(fs::exists(typo)) << args[0] << " created the home";
  }
  // An existing but empty folder stays empty too.
  EXPECT_EQ(cedevice({"status"}).exitCode, 1);
  EXPECT_FALSE(fs::exists(home() + "/system"));
  EXPECT_FALSE(fs::exists(home() + "/fs"));
  // Asking for help needs no device.
  EXPECT_EQ(onHome(typo, {"status", "--help"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(typo));
}

TEST_F(CedeviceToolTest, UnknownCommandsAreNamedWithTheNearestOneAndExit2) {
  ToolRun typo = cedevice({"statsu"});
  EXPECT_EQ(typo.exitCode, 2);
  EXPECT_THAT(typo.err, HasSubstr("unknown command 'statsu' (did you mean 'status'?)"));
  ToolRun nested = cedevice({"reg", "lsit", "HKLM"});
  EXPECT_EQ(nested.exitCode, 2);
  EXPECT_THAT(nested.err, HasSubstr("unknown command 'lsit' for 'cedevice reg' (did you mean 'list'?)"));
  ToolRun far = cedevice({"frobnicate"});
  EXPECT_EQ(far.exitCode, 2);
  EXPECT_THAT(far.err, Not(HasSubstr("did you mean")));

  ToolRun help = cedevice({"help", "send", "suspend"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out, cedevice({"send", "suspend", "--help"}).out);
  EXPECT_THAT(help.out, HasSubstr("cedevice send suspend"));
  EXPECT_EQ(cedevice({"help", "sned"}).exitCode, 2);
}

TEST_F(CedeviceToolTest, StoppedDeviceStatusExits3AndJsonOutputsParse) {
  init();
  // Another program may keep the list as a number: it reads as one.
  ASSERT_EQ(cedevice({"reg", "set", "--type", "dword", "HKLM\\Software\\Quillbex\\SyncclientPIM",
                      "clientPushList", "18"}).exitCode, 0);
  ToolRun text = cedevice({"status"});
  EXPECT_EQ(text.exitCode, 3);
  EXPECT_THAT(text.out, HasSubstr("listener: not running"));
  EXPECT_THAT(text.out, HasSubstr("clientPushList: 18 (contacts,notes)"));
  ToolRun status = cedevice({"status", "--json"});
  EXPECT_EQ(status.exitCode, 3);
  auto json = nlohmann::json::parse(status.out);
  EXPECT_EQ(json["listener"]["running"], false);
  EXPECT_EQ(json["clientPushList"]["value"], 18);
  EXPECT_EQ(json["clientPushList"]["sources"], nlohmann::json({"contacts", "notes"}));

  ToolRun schedule = cedevice({"schedule", "--json"});
  ASSERT_EQ(schedule.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(schedule.out), nlohmann::json::array());
}

TEST_F(CedeviceToolTest, FilesThatCannotBeReadOrWrittenFailWithTheSystemsReason) {
  init();
  ToolRun missing = cedevice({"reg", "import", home() + "/missing.reg"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("cannot open " + home() + "/missing.reg: No such file or directory"));

  ToolRun full = onHome(home(), {"schedule", "--json"}, " >/dev/full");
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_THAT(full.err, HasSubstr("cannot write standard output: No space left on device"));
}

TEST_F(CedeviceToolTest, PimItemsAreAddedChangedListedAndDeleted) {
  init();
  ToolRun added = pim({"add", "contact", "Ann O'Example"});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  unsigned contact = static_cast<unsigned>(std::stoul(added.out));
  EXPECT_EQ(added.out, std::to_string(contact) + "\n");
  ASSERT_EQ(pim({"add", "task", "line\none"}).exitCode, 0);

  ToolRun listed = pim({"list", "contacts"});
  ASSERT_EQ(listed.exitCode, 0);
  ASSERT_EQ(listed.out.rfind(std::to_string(contact) + "\tcontacts\t", 0), 0u) << listed.out;
  EXPECT_NE(listed.out.find("\tAnn O'Example\n"), std::string::npos) << listed.out;
  listed = pim({"list"});
  EXPECT_NE(listed.out.find("\ttasks\t"), std::string::npos);
  EXPECT_NE(listed.out.find("line\\x0aone\n"), std::string::npos) << listed.out;

  EXPECT_EQ(pim({"change", std::to_string(contact), "Bob"}).exitCode, 0);
  EXPECT_EQ(pim({"change", std::to_string(contact)}).exitCode, 0);
  EXPECT_NE(pim({"list", "contacts"}).out.find("\tBob\n"), std::string::npos);
  EXPECT_EQ(pim({"delete", std::to_string(contact)}).exitCode, 0);
  EXPECT_EQ(pim({"list", "contacts"}).out, "");
}

TEST_F(CedeviceToolTest, PimUnknownIdsAndBadInputAreClearErrors) {
  init();
  ToolRun missing = pim({"change", "999"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "cedevice: no item has the id 999\n");
  ToolRun notUtf8 = pim({"add", "contact", "caf\xe9"});
  EXPECT_EQ(notUtf8.exitCode, 1);
  EXPECT_NE(notUtf8.err.find("UTF-8"), std::string::npos) << notUtf8.err;

  // Usage mistakes (CLI11 finds them) exit 2 with nothing on standard output.
  ToolRun usage = pim({"add", "note", "x"});
  EXPECT_EQ(usage.exitCode, 2) << usage.err;
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(pim({"list"}).out, "");  // nothing was stored
}

// A device that runs: `log -f` is only meaningful while the listener writes.
class RunningDeviceTest : public CedeviceToolTest {
 protected:
  void TearDown() override {
    cedevice({"shutdown"});
    CedeviceToolTest::TearDown();
  }
  std::string logPath() { return home() + "/fs/notlstnr.txt"; }
  bool outputShows(const std::string& path, const std::string& text) {
    return ce::test::waitFor([&] { return ce::test::readFile(path).find(text) != std::string::npos; },
                             std::chrono::seconds(30));
  }
};

TEST_F(RunningDeviceTest, FollowedLogGoesOnAfterTruncationAndRecreationUntilShutdown) {
  init();
  ASSERT_EQ(cedevice({"boot", "--detach"}).exitCode, 0);
  ce::SpawnOptions follow;
  follow.argv = {ce::test::buildDir() + "/apps/cedevice/cedevice", "--home", home(), "log", "-f",
                 "--until-shutdown"};
  std::string output = home() + "/follow.out";
  follow.outputPath = output;
  std::string error;
  ce::Process follower = ce::Process::start(follow, error);
  ASSERT_TRUE(follower.valid()) << error;
  // The last lines come first; booting ends with the listener's ready line.
  ASSERT_TRUE(outputShows(output, "CP: Init waiting PIM notification messages..."));

  fs::resize_file(logPath(), 0);
  ASSERT_EQ(cedevice({"pim", "add", "contact", "Ann"}).exitCode, 0);
  EXPECT_TRUE(outputShows(output, "CP: Item is 1"));
  EXPECT_THAT(ce::test::readFile(output), HasSubstr("file truncated"));

  fs::rename(logPath(), logPath() + ".old");
  ASSERT_EQ(cedevice({"pim", "add", "task", "Report"}).exitCode, 0);
  EXPECT_TRUE(outputShows(output, "CP: Item is 2"));

  ASSERT_EQ(cedevice({"shutdown"}).exitCode, 0);
  EXPECT_TRUE(follower.waitForEnd(30000)) << "log --until-shutdown did not end with the device";
  EXPECT_EQ(follower.exitCode(), 0);
  // Each line once: a re-read from the start would repeat the boot lines.
  std::string shown = ce::test::readFile(output);
  EXPECT_EQ(shown.find("CP: Item is 1"), shown.rfind("CP: Item is 1"));
}

// The install tree: what `cmake --install` puts in a prefix, and a device run with the installed
// tools only, from a folder that is neither the build tree nor the prefix.
class InstallTest : public ce::test::DeviceTest {
 protected:
  void TearDown() override {
    if (!tool_.empty()) run({"--home", device(), "shutdown"});
    ce::test::DeviceTest::TearDown();
  }

  std::string device() { return home() + "/device"; }

  // A program from the installed bin/, started from `cwd`.
  ToolRun run(const std::vector<std::string>& args, const std::string& program = "cedevice") {
    std::string command = "cd " + shellQuoted(cwd_) + " && " + shellQuoted(bin_ + "/" + program);
    for (const auto& arg : args) command += " " + shellQuoted(arg);
    return ce::test::runShell(command, home() + "/.run.err");
  }

  std::string bin_;
  std::string cwd_;
  std::string tool_;
};

TEST_F(InstallTest, InstalledToolsRunADeviceFromAnyFolderWithoutTheBuildTree) {
  std::string prefix = home() + "/prefix";
  ToolRun install = ce::test::runShell(
      shellQuoted(CE_CMAKE_COMMAND) + " --install " + shellQuoted(ce::test::buildDir()) +
          " --prefix " + shellQuoted(prefix) + " >/dev/null",
      home() + "/.install.err");
  ASSERT_EQ(install.exitCode, 0) << install.err;
  for (const char* file : {"bin/cedevice", "bin/notlstnr", "bin/startsync",
                           "share/man/man1/cedevice.1",
                           "share/bash-completion/completions/cedevice",
                           "lib/systemd/user/cedevice@.service"})
    EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
  EXPECT_THAT(ce::test::readFile(prefix + "/lib/systemd/user/cedevice@.service"),
              HasSubstr("ExecStart=" + prefix + "/bin/cedevice --home %f boot"));
  EXPECT_THAT(ce::test::readFile(prefix + "/share/man/man1/cedevice.1"), HasSubstr(".SS \"cedevice status\""));

  // Moved after installing: the tools find each other beside themselves, not where they were
  // built or installed.
  std::string moved = home() + "/moved";
  fs::rename(prefix, moved);
  bin_ = moved + "/bin";
  cwd_ = home() + "/elsewhere";
  fs::create_directories(cwd_);
  tool_ = "cedevice";

  for (std::string program : {"cedevice", "startsync", "notlstnr"})
    EXPECT_EQ(run({"--version"}, program).out, program + " " + CE_VERSION + "\n");
  // The listener takes no options: one given by mistake starts nothing and creates nothing.
  EXPECT_EQ(run({"--home", device()}, "notlstnr").exitCode, 2);
  EXPECT_TRUE(fs::is_empty(cwd_));

  ASSERT_EQ(run({"--home", device(), "init"}).exitCode, 0);
  EXPECT_EQ(ce::test::readFile(device() + "/fs/Program Files/Quillbex/startsync.exe"),
            ce::test::readFile(bin_ + "/startsync"));
  ToolRun boot = run({"--home", device(), "boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  ASSERT_EQ(run({"--home", device(), "pim", "add", "contact", "Ann"}).out, "1\n");
  EXPECT_TRUE(ce::test::waitFor(
      [&] { return ce::test::readFile(device() + "/fs/notlstnr.txt").find("CP: Item is 1") !=
                   std::string::npos; },
      std::chrono::seconds(30)));
  ToolRun status = run({"--home", device(), "status"});
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_THAT(status.out, HasSubstr("listener: running"));
  EXPECT_THAT(status.out, HasSubstr("(contacts)"));
  // The listener that runs is the installed one, not the build tree's.
  size_t pidAt = status.out.find("(pid ");
  ASSERT_NE(pidAt, std::string::npos) << status.out;
  std::string pid = status.out.substr(pidAt + 5, status.out.find(')', pidAt) - pidAt - 5);
  EXPECT_EQ(fs::read_symlink("/proc/" + pid + "/exe"), fs::path(bin_ + "/notlstnr"));
  ToolRun down = run({"--home", device(), "shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_THAT(down.out, HasSubstr("listener exited with code 0"));
  tool_.clear();
  EXPECT_EQ(run({"--home", device(), "status"}).exitCode, 3);
  // Nothing was made in the current folder.
  EXPECT_TRUE(fs::is_empty(cwd_));
}

}  // namespace
