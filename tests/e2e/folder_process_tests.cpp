#include <chrono>
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

  // A change nobody should record, then one that must be: once the second is seen the
  // first had its chance.
  void expectNothingRecordedBy(const std::string& command) {
    setSetting("clientPushList", "0");
    shell(command);
    shell("echo x > Notes/control-" + std::to_string(++controls_) + ".pwi");
    ASSERT_TRUE(waitForSetting("clientPushList", "16")) << command;
  }

  // The events of earlier steps may still be on their way: a control file's bit shows once
  // every one of them has been handled, so none can stand in for the command's own.
  void expectRecorded(const std::string& command, const std::string& list) {
    setSetting("clientPushList", "0");
    shell("echo x > Notes/control-" + std::to_string(++controls_) + ".pwi");
    ASSERT_TRUE(ce::test::waitFor([&] { return std::atoi(setting("clientPushList").c_str()) & 16; },
                                  std::chrono::milliseconds(patienceMs)));
    setSetting("clientPushList", "0");
    shell(command);
    EXPECT_TRUE(waitForSetting("clientPushList", list)) << command;
  }

  // Returns once every change made before it has been recorded: the listener handles one
  // message at a time and logs a note's creation just before recording it, so the second
  // note's line comes after the first note's record. Counts on no other note being created.
  void waitUntilHandled() {
    for (int i = 0; i < 2; ++i)
      shell("echo x > Notes/handled-" + std::to_string(++handled_) + ".pwi");
    ASSERT_TRUE(waitForLog("CP note: It is a new item inserted", handled_));
  }

  int controls_ = 0;
  int handled_ = 0;
};

TEST_F(FolderProcessTest, EveryWayOfChangingTheBriefcaseIsRecorded) {
  shell("echo outside > ../outside.doc && echo keep > Briefcase/keep.doc");
  ASSERT_TRUE(waitForSetting("clientPushList", "32"));
  expectRecorded("cp /etc/hostname Briefcase/copied.doc", "32");
  expectRecorded("mv ../outside.doc Briefcase/moved-in.doc", "32");
  expectRecorded("mv Briefcase/moved-in.doc Briefcase/renamed.doc", "32");
  expectRecorded("mv Briefcase/renamed.doc ../moved-out.doc", "32");
  expectRecorded("rm Briefcase/copied.doc", "32");
  expectNothingRecordedBy("echo more >> Briefcase/keep.doc");
  expectNothingRecordedBy("mkdir Briefcase/sub && echo x > Briefcase/sub/inner.doc");
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
  expectRecorded("echo x > ../Elsewhere/new.doc", "32");
  expectNothingRecordedBy("echo x > Briefcase/old.doc");
}

}  // namespace
