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

// A watched folder that goes away is a change of its source, and once a folder is back under
// its path it is watched again at once, without a refresh.
TEST_F(FolderProcessTest, AFolderThatGoesAwayIsRecordedAndWatchedAgainOnceBack) {
  setSetting("clientPushList", "0");
  shell("mv 'My Pictures' ../Pictures.away && rmdir Briefcase");
  ASSERT_TRUE(waitForLog("CP Picture: Folder removed or moved away, signalling the folder"));
  ASSERT_TRUE(waitForLog("CP Briefcase: Folder removed or moved away, signalling the folder"));
  waitUntilHandled();
  EXPECT_EQ(setting("clientPushList"), "112");

  // Moved back alone, with nothing else happening beside it, then the other made anew.
  shell("mv ../Pictures.away 'My Pictures'");
  ASSERT_TRUE(waitForLog("CP Picture: Folder back and watched again, signalling the folder"));
  shell("mkdir Briefcase");
  ASSERT_TRUE(waitForLog("CP Briefcase: Folder back and watched again, signalling the folder"));
  shell("echo p > 'My Pictures/IMG_02.jpg' && echo x > Briefcase/found.doc");
  EXPECT_TRUE(waitForLog("CP Picture: It is a new item inserted"));
  EXPECT_TRUE(waitForLog("CP Briefcase: It is a new item inserted"));
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
