// tests/support/write_time.h where std::filesystem keeps nanoseconds.
#include "tests/support/write_time.h"

namespace ce::test {

std::filesystem::file_time_type lastWriteTime(const std::string& path) {
  return std::filesystem::last_write_time(path);
}

void setLastWriteTime(const std::string& path, std::filesystem::file_time_type time) {
  std::filesystem::last_write_time(path, time);
}

}  // namespace ce::test
