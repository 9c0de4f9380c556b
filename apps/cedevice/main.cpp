// cedevice: boots an emulated device and drives it. Command groups register themselves (see
// command.h); this file owns the global options and the mapping of failures to exit codes.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <utility>
#include <vector>

#include "apps/cedevice/command.h"

namespace cedevice {

namespace {
std::vector<std::pair<int, CommandSetup>>& groups() {
  static std::vector<std::pair<int, CommandSetup>> all;
  return all;
}
int pendingExitCode = 0;
}  // namespace

CommandGroup::CommandGroup(int order, CommandSetup setup) { groups().emplace_back(order, setup); }

void setExitCode(int code) { pendingExitCode = code; }

}  // namespace cedevice

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  CLI::App app{"cedevice: boots an emulated device with the client push listener and drives it.",
               "cedevice"};
  app.require_subcommand(1);
  std::string home;
  app.add_option("--home", home, "Device home (default: $CE_DEVICE_HOME, else ./device)")
      ->envname("CE_DEVICE_HOME");
  app.parse_complete_callback([&] {
    if (!home.empty()) setenv("CE_DEVICE_HOME", home.c_str(), 1);
  });

  auto groups = cedevice::groups();
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [order, setup] : groups) setup(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::printf("%s", app.help().c_str());
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    std::printf("%s", app.help("", CLI::AppFormatMode::All).c_str());
    return 0;
  } catch (const CLI::ParseError& e) {
    // Usage errors: the reason, then the usage line of the (sub)command, exit 2.
    std::fprintf(stderr, "cedevice: %s\n", e.what());
    const CLI::App* failed = &app;
    std::string name = "cedevice";
    for (const CLI::App* sub = &app;;) {
      auto chosen = sub->get_subcommands();
      if (chosen.empty()) break;
      sub = failed = chosen.front();
      name += " " + sub->get_name();
    }
    CLI::Formatter formatter;
    std::string usage = formatter.make_usage(failed, name);
    std::fprintf(stderr, "%s", usage.substr(usage.find_first_not_of('\n')).c_str());
    std::fprintf(stderr, "Run with --help for more information.\n");
    return 2;
  } catch (const cedevice::Failure& e) {
    std::fprintf(stderr, "cedevice: %s\n", e.what());
    return e.exitCode();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cedevice: %s\n", e.what());
    return 1;
  }
  return cedevice::pendingExitCode;
}
