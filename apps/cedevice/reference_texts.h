// The parts of cedevice's reference that belong to no single command: the overview, the exit
// status, the environment, the device home's files and worked examples. --help shows the
// overview and the exit status; the manual page and docs/cedevice.md show them all.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cedevice {

struct NamedText {
  std::string name;  // "3", "CE_REGISTRY_BUSY_TIMEOUT_MS", "<home>/fs/"
  std::string text;  // one paragraph, reflowed where it is shown
};

struct ReferenceTexts {
  std::string overview;  // paragraphs, as in describe()
  std::vector<NamedText> exitStatus;
  // Variables that no option reads through its envname; an option's own variable may be
  // given more words here under its name.
  std::vector<NamedText> environment;
  std::vector<NamedText> files;  // the device home, <home>
  std::string examples;          // paragraphs, as in describe()
};

const ReferenceTexts& referenceTexts();

// The root command's longer text in --help: the overview, then the exit status, its list
// laid out for `width` columns.
std::string helpDetails(const ReferenceTexts& texts, std::size_t width);

}  // namespace cedevice
