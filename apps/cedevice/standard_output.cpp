#include "apps/cedevice/standard_output.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "apps/cedevice/failure.h"

namespace cedevice {

namespace {
void ignoreSignal(int) {}
}  // namespace

void flushStandardOutput() {
  errno = 0;
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout)
    throw Failure(std::string("cannot write standard output: ") +
                  (errno != 0 ? std::strerror(errno) : "write error"));
}

void reportClosedPipes() {
#ifdef SIGPIPE
  struct sigaction action {};
  action.sa_handler = ignoreSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
#endif
}

}  // namespace cedevice
