// Forked child processes for the tests: one run to its end, or several released at once.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <vector>

namespace ce::test {

// A forked child that ends with `body`'s result; its pid.
inline pid_t spawn(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// Waits for `pid`; its exit code, 128 + the signal that killed it, or -1.
inline int exitCodeOf(pid_t pid) {
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int exitCodeInChild(const std::function<int()>& body) { return exitCodeOf(spawn(body)); }

// Runs body(0) .. body(count - 1), each in its own process, all released at the same moment;
// true when every one exited 0.
inline bool allAtOnce(int count, const std::function<int(int)>& body) {
  int gate[2];
  if (pipe(gate) != 0) return false;
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i)
    children.push_back(spawn([&, i] {
      close(gate[1]);
      char byte;
      return read(gate[0], &byte, 1) == 0 ? body(i) : 99;  // end of file: the gate opened
    }));
  close(gate[0]);
  close(gate[1]);
  bool ok = true;
  for (pid_t child : children) ok = exitCodeOf(child) == 0 && ok;
  return ok;
}

}  // namespace ce::test
