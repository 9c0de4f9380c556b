// Which pages of a running program are in its memory, looked up by section.
#pragma once

#include <string>

namespace ce::test {

// How many pages of the section `name` of process `pid`'s program are mapped into that
// process; -1 when the section or the program's mapping is not found.
long residentPagesOfSection(int pid, const std::string& name);

}  // namespace ce::test
