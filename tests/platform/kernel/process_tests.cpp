// Processes are known by pid and start time together, and a started program gets nothing of
// its starter but what it is given.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "platform/process.h"
#include "tests/support/device_test.h"

namespace {

using ProcessTest = ce::test::DeviceTest;
using ::testing::ElementsAre;

ce::Process startSleeper() {
  ce::SpawnOptions options;
  options.argv = {"/bin/sleep", "60"};
  std::string error;
  ce::Process process = ce::Process::start(options, error);
  EXPECT_TRUE(process.valid()) << error;
  return process;
}

TEST_F(ProcessTest, AProcessIsFoundOnlyByItsOwnStartTimeAndOnlyWhileItRuns) {
  ce::Process sleeper = startSleeper();
  ce::ProcessIdentity identity = sleeper.identity();
  ASSERT_GT(identity.startTime, 0u);
  EXPECT_EQ(ce::ProcessIdentity::parse(identity.text())->startTime, identity.startTime);
  EXPECT_FALSE(ce::ProcessIdentity::parse(std::to_string(identity.pid)));  // a bare pid

  ce::ProcessIdentity earlier = identity;
  earlier.startTime -= 1;  // an earlier process that had the same pid
  ce::Process impostor = ce::Process::find(earlier);
  EXPECT_FALSE(impostor.valid());
  EXPECT_FALSE(impostor.terminate());
  ce::Process found = ce::Process::find(identity);
  ASSERT_TRUE(found.valid());

  EXPECT_FALSE(sleeper.waitForEnd(0));
  ASSERT_TRUE(found.terminate());
  ASSERT_TRUE(sleeper.waitForEnd(10000));
  EXPECT_EQ(sleeper.exitCode(), 128 + SIGTERM);
  EXPECT_TRUE(found.ended());
  EXPECT_FALSE(found.terminate());
  EXPECT_FALSE(ce::Process::find(identity).valid());
}

TEST_F(ProcessTest, AProgramKeepsOnlyTheDescriptorsItIsGiven) {
  int leaked = open("/dev/null", O_RDONLY);  // not close-on-exec, as a caller's pipe may be
  int given = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GT(leaked, 2);
  ASSERT_GT(given, 2);
  ce::SpawnOptions options;
  options.argv = {"/bin/sh", "-c", "ls /proc/$$/fd; readlink /proc/$$/fd/0"};
  options.outputPath = hostPath("fds.out");
  options.keptDescriptors = {given};
  std::string error;
  ce::Process lister = ce::Process::start(options, error);
  ASSERT_TRUE(lister.valid()) << error;
  ASSERT_TRUE(lister.waitForEnd(10000));
  EXPECT_EQ(lister.exitCode(), 0);
  close(leaked);
  close(given);

  std::istringstream listed(ce::test::readFile(hostPath("fds.out")));
  std::vector<std::string> lines;
  for (std::string line; std::getline(listed, line);) lines.push_back(line);
  EXPECT_THAT(lines, ElementsAre("0", "1", "2", std::to_string(given), "/dev/null"));
}

}  // namespace
