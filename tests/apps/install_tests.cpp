// The install tree: what `cmake --install` puts in a prefix, and a device run with the installed
// tools only, from a folder that is neither the build tree nor the prefix.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

namespace {

namespace fs = std::filesystem;
using ce::test::shellQuoted;
using ce::test::ToolRun;
using ::testing::HasSubstr;

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
  ToolRun listenerHelp = run({"--help"}, "notlstnr");
  EXPECT_EQ(listenerHelp.exitCode, 0);
  EXPECT_THAT(listenerHelp.out, HasSubstr("cedevice boot"));
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
