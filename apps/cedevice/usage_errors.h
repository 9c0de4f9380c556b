// The parser's complaints about a command line, in the tool's own words: lower case, the word
// at fault quoted, the command it was given to, and the nearest right word where there is
// one, as for unknown commands.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cedevice {

// `command` is the deepest command the parser had chosen when it failed.
std::string usageMessage(const CLI::ParseError& error, const CLI::App& command);

}  // namespace cedevice
