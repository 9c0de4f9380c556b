// Shell completion from the same definitions that parse the command line, so that the bash
// and zsh completion scripts never fall behind a command: they ask `cedevice __complete
// WORD... CURRENT` and offer what it prints. Where an argument names something on the device
// (a registry key, a value name, a PIM item), the words come from the device named by
// --home, looked at without being changed.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cedevice {

// The hidden word that asks for completions; main() answers it before parsing.
inline constexpr const char* completeWord = "__complete";

// What may stand where `current` is typed after `before` (argv without the program name),
// nothing when nothing may. Else the first line says what follows: ":dir" or ":file" when a
// folder or a file name stands there (the shell offers those itself), or ":TAG<TAB>HEADING",
// a zsh tag and a heading that names the group ("registry key"). Then one line per word:
// "word" or "word<TAB>what it is". A word that ends in '\' is a registry key that goes on:
// no space after it. Words are not filtered by `current` (the shell does that, as it also
// quotes), except that a key is offered one level below what `current` has typed.
std::vector<std::string> completions(const CLI::App& app, const std::vector<std::string>& before,
                                     const std::string& current);

}  // namespace cedevice
