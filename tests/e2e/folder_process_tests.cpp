#include <cstdlib>
#include <filesystem>

#include <gmock/gmock.h>

#include "tests/e2e/device_fixture.h"

namespace {

namespace fs = std::filesystem;

class FolderProcessTest : public ce::test::DeviceProcessTest {
 protected:
  void SetUp() override {
    DeviceProcessTest::SetUp();
    bootDevice();
  }

  // Runs a shell command inside the device's file system.
  void shell(const std::string& command) {
    std::string line = "cd '" + fsPath("My Documents") + "' && " + command;
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
  }

  // The list a command leaves on a cleared one once every event it caused has been handled,
  // with the bit of the notes that tell so (16).
  std::string recordedBy(const std::string& command) {
    setSetting("clientPushList", "0");
    shell(command);
    waitUntilHandled();
    return setting("clientPushList");
  }
};

TEST_F(FolderProcessTest, EveryWayOfChangingTheBriefcaseIsRecorded) {
  shell("echo outside > ../outside.doc");
  for (const char* command : {"echo keep > Briefcase/keep.doc",
                              "cp /etc/hostname Briefcase/copied.doc",
                              "mv ../outside.doc Briefcase/moved-in.doc",
                              "mv Briefcase/moved-in.doc Briefcase/renamed.doc",
                              "mv Briefcase/renamed.doc ../moved-out.doc",
                              "rm Briefcase/copied.doc"})
    EXPECT_EQ(recordedBy(command), "48") << command;
  EXPECT_EQ(recordedBy("echo more >> Briefcase/keep.doc"), "16");
  EXPECT_EQ(recordedBy("mkdir Briefcase/sub && echo x > Briefcase/sub/inner.doc"), "16");
}

TEST_F(FolderProcessTest, RefreshMovesTheBriefcaseToTheFolderTheClientNowNames) {
  fs::create_directories(fsPath("Elsewhere"));
  ce::test::writeSetting("dir", "\\Elsewhere", "Quillbex/SyncclientPIM/sources/briefcase");
  ASSERT_EQ(cedevice({"send", "refresh", "briefcase"}).exitCode, 0);
  ASSERT_TRUE(waitForLog("CP Briefcase: command change dir"));
  EXPECT_EQ(recordedBy("echo x > ../Elsewhere/new.doc"), "48");
  EXPECT_EQ(recordedBy("echo x > Briefcase/old.doc"), "16");
}

}  // namespace
