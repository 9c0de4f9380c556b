// The manual page and docs/cedevice.md, written from the same command definitions that
// --help shows, so that the three always agree.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace cedevice {

std::string manualPage(const CLI::App& app, const std::string& version);
std::string markdownPage(const CLI::App& app);

// A subcommand starts with a copy of its parent's longer text; only its own is kept, so each
// text appears once, with the command it describes. Call once every command is defined.
void dropInheritedDetails(CLI::App& app);

// The hidden `docs` command that writes them (used by the build).
void addDocsCommand(CLI::App& app, const std::string& version);

}  // namespace cedevice
