// Shell completion from the same definitions that parse the command line, so that the bash
// and zsh completion scripts never fall behind a command: they ask `cedevice __complete
// WORD... CURRENT` and offer what it prints.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cedevice {

// The hidden word that asks for completions; main() answers it before parsing.
inline constexpr const char* completeWord = "__complete";

// One line per word that may stand where `current` is typed after `before` (argv without the
// program name): "word" or "word<TAB>what it is". Or one line ":dir" or ":file" when a
// folder or a file name stands there. Not filtered by `current`: the shell does that, as it
// also quotes.
std::vector<std::string> completions(const CLI::App& app, const std::vector<std::string>& before,
                                     const std::string& current);

}  // namespace cedevice
