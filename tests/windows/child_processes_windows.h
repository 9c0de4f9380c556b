// Child processes for the tests on Windows, with the interface of the forked ones on Linux
// (tests/platform/child_processes.h) for what the tests of both platforms use.
//
// Windows cannot fork. A child is this same test program started again on the running test
// alone, with CE_TEST_CHILD saying which of the test's child starts is its own; it replays the
// test from its beginning, passes over the earlier starts as if they had succeeded, and at its
// own start runs the body and ends with the body's result, as GoogleTest's death tests do on
// Windows. So what a test does before a start is done again by each child, on the same device
// home: keep it to what may be repeated. The parent goes on only once every child has reached
// its start, so no replay overlaps what the test does next.
#pragma once

#include <windows.h>

#include <functional>

namespace ce::test {

// Runs body() in a child process; its exit code, or -1 when the child could not be started or
// never reached its start.
int exitCodeInChild(const std::function<int()>& body);

// Runs body(0) .. body(count - 1), each in its own process, all released at the same moment;
// true when every one exited 0.
bool allAtOnce(int count, const std::function<int(int)>& body);

// A child process whose exit code is body's result; ended if the test leaves it running.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int()>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  DWORD pid() const { return pid_; }
  bool exited();
  // The exit code; -1 when the child never reached its start.
  int wait();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  int code_ = -1;
};

// True in a child replaying its parent's test: the device home is the parent's, and stays.
bool replayingForChild();

}  // namespace ce::test
