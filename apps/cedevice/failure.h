// How a command fails at run time: thrown as Failure, it becomes one line on standard error and
// the failure's exit code. Apart from command.h, so that the code commands call (the device's
// stores, processes and registry files) does not compile CLI11, most of a source's compile.
#pragma once

#include <stdexcept>
#include <string>

namespace cedevice {

class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message, int exitCode = 1)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int exitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

}  // namespace cedevice
