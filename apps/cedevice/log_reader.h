// Follows a file by name from an offset, whole lines at a time, as `tail -F` does: through
// truncation and re-creation of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/linux/file_identity.h"

namespace cedevice {

class LogReader {
 public:
  enum class Start { atBeginning, atEnd };
  explicit LogReader(std::string path, Start start = Start::atBeginning);

  // Whole lines added since the last call. A file that shrank or was replaced is read again
  // from its start, with a note on standard error as tail gives.
  std::string next();

 private:
  std::string path_;
  std::optional<ce::FileIdentity> identity_;
  uintmax_t offset_ = 0;
};

}  // namespace cedevice
