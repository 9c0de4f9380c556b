// The device tool acts only on processes it started: records in run/ that outlived their
// processes name nobody, a supervisor's death takes its children along, a listener that
// cannot receive messages is not reported as booted, and a detached boot keeps none of its
// caller's descriptors.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "tests/e2e/device_fixture.h"
#include "tests/platform/child_processes.h"

namespace {

using DeviceToolProcessTest = ce::test::DeviceProcessTest;
using ce::test::running;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

std::vector<int> childrenOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  std::vector<int> children;
  for (int child; in >> child;) children.push_back(child);
  return children;
}

TEST_F(DeviceToolProcessTest, RecordsLeftByADeadDeviceNeverReachAnotherProcess) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  ce::SpawnOptions sleeper;
  sleeper.argv = {"/bin/sleep", "60"};
  std::string error;
  int stranger = ce::spawnProcess(sleeper, error);
  ASSERT_GT(stranger, 0) << error;
  // A device that died left its records; the pid has since gone to an unrelated process.
  for (const char* record : {"boot.pid", "listener.pid", "scheduler.pid"})
    ce::test::writeFile(hostPath(std::string("run/") + record), std::to_string(stranger) + "\n");

  auto started = Clock::now();
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 1) << down.out;
  EXPECT_THAT(down.err, HasSubstr("not running"));
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(running(stranger));

  // Boot and shutdown of the device itself go on around the stale records.
  bootDevice();
  down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_TRUE(running(stranger));
  ce::terminateProcess(stranger);
  ce::waitChild(stranger, patienceMs);
}

TEST_F(DeviceToolProcessTest, KilledSupervisorTakesItsSchedulerAndListenerAlong) {
  bootDevice();
  int supervisor = recordedPid("boot.pid");
  ASSERT_GT(supervisor, 0);
  std::vector<int> children = childrenOf(supervisor);
  ASSERT_EQ(children.size(), 2u);  // the scheduler and the listener
  ASSERT_EQ(kill(supervisor, SIGKILL), 0);
  EXPECT_TRUE(ce::test::waitFor(
      [&] { return !running(supervisor) && !running(children[0]) && !running(children[1]); },
      std::chrono::milliseconds(patienceMs)));

  // The next boot runs one scheduler and one listener of its own, and stops them.
  bootDevice();
  int next = recordedPid("boot.pid");
  EXPECT_EQ(childrenOf(next).size(), 2u);
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_TRUE(ce::test::waitFor([&] { return !running(next); }));
}

// A scheduler that outlived its supervisor (one that did not take the supervisor's death as
// its end) is ended by the next boot before that boot's own scheduler starts.
TEST_F(DeviceToolProcessTest, NextBootEndsASchedulerLeftRunning) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  ce::SpawnOptions options;
  options.argv = {ce::test::buildDir() + "/apps/cedevice/cedevice", "--home", home(), "scheduler"};
  options.outputPath = hostPath("leftover.out");
  std::string error;
  ce::Process leftover = ce::Process::start(options, error);
  ASSERT_TRUE(leftover.valid()) << error;
  ce::test::writeFile(hostPath("run/scheduler.pid"), leftover.identity().text() + "\n");

  bootDevice();
  EXPECT_TRUE(leftover.ended());
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  if (!leftover.ended()) {
    leftover.kill();
    leftover.waitForEnd(patienceMs);
  }
}

TEST_F(DeviceToolProcessTest, BootFailsWhenTheListenerCannotReceiveMessages) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  // Entries under the socket names of the pids the next processes will get (on this host
  // a thousand pids go by in minutes, not within one boot).
  int last = std::stoi(ce::test::readFile("/proc/sys/kernel/ns_last_pid"));
  int limit = std::stoi(ce::test::readFile("/proc/sys/kernel/pid_max"));
  ASSERT_GT(limit, 0);
  for (int i = 1; i <= 1000; ++i) {
    int pid = (last + i) % limit;
    if (pid < 300) continue;
    std::filesystem::create_directory(hostPath("run/socket." + std::to_string(pid)));
  }
  auto boot = cedevice({"boot", "--detach"});
  EXPECT_EQ(boot.exitCode, 1) << boot.out;
  EXPECT_THAT(boot.err, HasSubstr("cannot receive messages"));
  EXPECT_THAT(boot.out, ::testing::Not(HasSubstr("device booted")));

  // The failed boot took its processes down and let go of the device.
  auto down = cedevice({"shutdown"});
  EXPECT_EQ(down.exitCode, 1);
  EXPECT_THAT(down.err, HasSubstr("not running"));
}

// `$(cedevice boot --detach)` and wrappers that wait for a pipe: the device must not hold
// any descriptor of the caller once the tool has returned.
TEST_F(DeviceToolProcessTest, DetachedBootReturnsToACallerWaitingForItsPipe) {
  ASSERT_EQ(cedevice({"init"}).exitCode, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  std::string tool = ce::test::buildDir() + "/apps/cedevice/cedevice";
  pid_t caller = ce::test::spawn([&] {
    close(pipeEnds[0]);
    dup2(pipeEnds[1], 1);
    dup2(pipeEnds[1], 3);  // a wrapper's own copy, as faketime and shells keep
    execl(tool.c_str(), tool.c_str(), "--home", home().c_str(), "boot", "--detach",
          static_cast<char*>(nullptr));
    return 127;
  });
  close(pipeEnds[1]);
  std::string output;
  bool endOfFile = false;
  auto deadline = Clock::now() + std::chrono::milliseconds(patienceMs);
  while (!endOfFile && Clock::now() < deadline) {
    pollfd readable{pipeEnds[0], POLLIN, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[512];
    ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
    if (n <= 0) endOfFile = true;
    else output.append(buffer, static_cast<size_t>(n));
  }
  close(pipeEnds[0]);
  EXPECT_EQ(ce::test::exitCodeOf(caller), 0);
  EXPECT_TRUE(endOfFile);
  EXPECT_THAT(output, HasSubstr("device booted"));
}

}  // namespace
