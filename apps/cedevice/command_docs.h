// The manual page and docs/cedevice.md, written from the same command definitions that
// --help shows, so that the three always agree.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "apps/cedevice/reference_texts.h"

namespace cedevice {

// What the manual page says of this installation.
struct ManualFacts {
  std::string version;
  std::string date;       // of the release, "2026-12-07"
  std::string helperDir;  // where notlstnr and startsync are installed
  std::string docDir;     // where README.md and docs/ are installed
};

std::string manualPage(const CLI::App& app, const ReferenceTexts& texts, const ManualFacts& facts);
std::string markdownPage(const CLI::App& app, const ReferenceTexts& texts);

// A subcommand starts with a copy of its parent's longer text; only its own is kept, so each
// text appears once, with the command it describes. Call once every command is defined.
void dropInheritedDetails(CLI::App& app);

// The hidden `docs` command that writes them (used by the build).
void addDocsCommand(CLI::App& app, const ReferenceTexts& texts, const std::string& version);

}  // namespace cedevice
