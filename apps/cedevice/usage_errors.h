// The parser's complaints about a command line, in the tool's own words: lower case, the word
// at fault quoted, the command it was given to, and the nearest right word where there is
// one, as for unknown commands. They are told from the kind of error the parser threw and from
// the command's own options, never from the parser's English; a value is checked by one of
// the validators below, whose complaints are ours.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cedevice {

// `command` is the deepest command the parser had chosen when it failed.
std::string usageMessage(const CLI::ParseError& error, const CLI::App& command);

// "unknown option '--hme' (did you mean '--home'?)" for an option `command` does not take.
std::string unknownOptionMessage(const CLI::App& command, const std::string& arg);

// A value that must be one of `names`.
CLI::Validator oneOf(std::vector<std::string> names);
// A whole number, decimal, from `lowest` to `highest`.
CLI::Validator numberIn(long long lowest, long long highest);
// A whole number the command itself judges (an id).
CLI::Validator wholeNumber();

}  // namespace cedevice
