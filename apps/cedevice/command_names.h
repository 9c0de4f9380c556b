// Command words on the command line: finding the first one that names no command, with the
// nearest known name, as git and systemctl do.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

namespace cedevice {

struct UnknownCommand {
  std::string message;     // "unknown command 'statsu' (did you mean 'status'?)"
  const CLI::App* level;   // the command whose subcommand it should have been
  std::string path;        // "cedevice reg"
};

// The first word of `args` (argv without the program name) that stands where a command is
// expected and names none.
std::optional<UnknownCommand> unknownCommand(const CLI::App& app,
                                             const std::vector<std::string>& args);

// The visible name nearest to `word` within a couple of typing mistakes, or "".
std::string nearestName(const std::string& word, const std::vector<std::string>& names);

// Index in `args` of the first command word, or args.size() when there is none.
size_t firstCommandWord(const CLI::App& app, const std::vector<std::string>& args);

}  // namespace cedevice
