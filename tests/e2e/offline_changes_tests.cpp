#include <signal.h>

#include <filesystem>
#include <string>

#include "platform/notify.h"
#include "tests/e2e/device_fixture.h"

namespace {

namespace fs = std::filesystem;

// Changes made while the device's listener is down, seen by booting it again. Each wait is
// on the log: the line that ends the listener's start, counted across boots.
class OfflineChangesProcessTest : public ce::test::DeviceProcessTest {
 protected:
  void SetUp() override {
    DeviceProcessTest::SetUp();
    bootDevice();
    ASSERT_TRUE(startedTimes(1));
  }

  bool startedTimes(int count) {
    return waitForLog("CP: Init waiting PIM notification messages...", count);
  }
  void shutdown() {
    auto result = cedevice({"shutdown"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
  }
  void boot(int nth) {
    auto result = cedevice({"boot", "--detach"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    ASSERT_TRUE(startedTimes(nth));
  }
  void write(const std::string& relative, const std::string& text) {
    ce::test::writeFile(fsPath("My Documents/" + relative), text);
  }
  void pim(const std::string& kind, const std::string& subject) {
    auto result = cedevice({"pim", "add", kind, subject});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }
  std::vector<std::string> offlineLines() {
    return ce::test::entriesStartingWith(log(), {"CP: Changes while stopped"});
  }
  size_t pendingRequests() { return ce::notify::pendingRequests().size(); }
};

TEST_F(OfflineChangesProcessTest, ChangesMadeWhileShutDownAreRecordedAtTheNextBootOnly) {
  shutdown();
  pim("task", "milk");
  write("Notes/memo.pwi", "remember");
  boot(2);
  EXPECT_THAT(offlineLines(),
              ::testing::ElementsAre("[INFO] - CP: Changes while stopped: tasks, notes"));
  EXPECT_EQ(setting("clientPushList"), "24");
  EXPECT_EQ(pendingRequests(), 1u);

  // Nothing changed since: the next boot has nothing to add.
  shutdown();
  setSetting("clientPushList", "0");
  boot(3);
  EXPECT_EQ(offlineLines().size(), 1u);
  EXPECT_EQ(setting("clientPushList"), "0");
}

TEST_F(OfflineChangesProcessTest, ChangesMadeAfterTheListenerWasKilledAreRecorded) {
  // A live change first: recorded then, and not again after the kill.
  pim("contact", "Ann");
  ASSERT_TRUE(waitForLog("CP: Item is 1"));
  ASSERT_EQ(setting("clientPushList"), "2");
  // The boot ends with its listener; the next one may start once it has.
  int supervisor = recordedPid("boot.pid");
  ASSERT_EQ(kill(recordedPid("listener.pid"), SIGKILL), 0);
  ASSERT_TRUE(ce::test::waitFor([&] { return !ce::test::running(supervisor); }));
  write("My Pictures/IMG_01.JPG", "picture");
  setSetting("clientPushList", "0");
  boot(2);
  EXPECT_THAT(offlineLines(),
              ::testing::ElementsAre("[INFO] - CP: Changes while stopped: pictures"));
  EXPECT_EQ(setting("clientPushList"), "64");
  EXPECT_EQ(pendingRequests(), 1u);
}

}  // namespace
