// The listener's log as a list of "[TAG] - message" entries, without their time stamps.
#pragma once

#include <string>
#include <vector>

namespace ce::test {

// Lines of <home>/fs/<file>, each cut after the time stamp: "[INFO] - CP: ...".
std::vector<std::string> logEntries(const std::string& home,
                                    const std::string& file = "notlstnr.txt");
// Only the entries whose message starts with one of the prefixes.
std::vector<std::string> entriesStartingWith(const std::vector<std::string>& entries,
                                             const std::vector<std::string>& prefixes);

}  // namespace ce::test
