#include "tests/support/log_lines.h"

#include <sstream>

#include "tests/support/device_test.h"

namespace ce::test {

std::vector<std::string> logEntries(const std::string& home, const std::string& file) {
  std::vector<std::string> entries;
  std::istringstream in(readFile(home + "/fs/" + file));
  std::string line;
  while (std::getline(in, line)) {
    auto tag = line.find(" [");
    entries.push_back(tag == std::string::npos ? line : line.substr(tag + 1));
  }
  return entries;
}

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& entries,
                                             const std::vector<std::string>& prefixes) {
  std::vector<std::string> kept;
  for (const auto& entry : entries) {
    auto message = entry.find("] - ");
    std::string text = message == std::string::npos ? entry : entry.substr(message + 4);
    for (const auto& prefix : prefixes)
      if (text.compare(0, prefix.size(), prefix) == 0) {
        kept.push_back(entry);
        break;
      }
  }
  return kept;
}

}  // namespace ce::test
