// The device starts its programs without arguments. A person who runs one by hand may ask
// for its help or version; anything else is refused before the program touches a device.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

namespace apps {

// nullopt: no arguments, go on. Otherwise the exit code: 0 after --help/--version (1 when
// standard output cannot be written), 2 for anything else.
inline std::optional<int> answerArguments(int argc, char** argv, const char* program,
                                          const char* helpText, const char* refusal) {
  if (argc <= 1) return std::nullopt;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(helpText, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", program, CE_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "%s: unexpected argument '%s'%s\n", program, argv[1], refusal);
  return 2;
}

}  // namespace apps
