// How the device tool's command groups plug in: each group's file defines one registrar that
// adds its subcommands to the application. Runtime failures are thrown as Failure
// (failure.h); usage errors exit 2. The files are compiled joined (CMakeLists.txt), so each
// keeps its names in a namespace named after it: every one has its own setup() and group.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "apps/cedevice/failure.h"

namespace cedevice {

using CommandSetup = void (*)(CLI::App& app);

// Groups appear in --help in `order` (lower first).
struct CommandGroup {
  CommandGroup(int order, CommandSetup setup);
};

// Exit code a command left for main() to return (0 unless a command sets it).
void setExitCode(int code);

// Commands may be given a longer text shown after their options in --help, in the manual page
// and in docs/cedevice.md. Paragraphs are separated by a blank line; a paragraph whose lines
// all start with two spaces is shown as it is written, the others may be reflowed.
inline CLI::App* describe(CLI::App* command, const std::string& details) {
  command->footer(details);
  return command;
}

}  // namespace cedevice
