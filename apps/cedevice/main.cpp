// cedevice: boots an emulated device and drives it. Command groups register themselves (see
// command.h); this file owns the global options, the words that are not commands and the
// mapping of failures to exit codes.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include "apps/cedevice/command.h"
#include "apps/cedevice/command_docs.h"
#include "apps/cedevice/command_names.h"
#include "apps/cedevice/completion.h"
#include "apps/cedevice/device_presence.h"
#include "apps/cedevice/help_formatter.h"
#include "apps/cedevice/reference_texts.h"
#include "apps/cedevice/standard_output.h"
#include "apps/cedevice/usage_errors.h"

namespace cedevice {

namespace {
std::vector<std::pair<int, CommandSetup>>& groups() {
  static std::vector<std::pair<int, CommandSetup>> all;
  return all;
}
int pendingExitCode = 0;

// Commands that may run where there is no device yet.
bool makesOrNeedsNoDevice(const std::string& name) {
  return name == "init" || name == "boot" || name == "home" || name == "help" || name == "docs";
}

// The deepest command the parser chose, and the words that name it ("cedevice reg set").
std::pair<const CLI::App*, std::string> chosenCommand(const CLI::App& app) {
  const CLI::App* chosen = &app;
  std::string name = app.get_name();
  for (auto subs = app.get_subcommands(); !subs.empty(); subs = chosen->get_subcommands()) {
    chosen = subs.front();
    name += " " + chosen->get_name();
  }
  return {chosen, name};
}

// A usage error ends with the usage line of the command it was given to, whether the parser
// or the command itself found it.
void printUsageAfterError(const CLI::App* command, const std::string& name) {
  CLI::Formatter formatter;
  std::string usage = formatter.make_usage(command, name);
  std::fprintf(stderr, "%sRun `%s --help` for more information.\n",
               usage.substr(usage.find_first_not_of('\n')).c_str(), name.c_str());
}

}  // namespace

CommandGroup::CommandGroup(int order, CommandSetup setup) { groups().emplace_back(order, setup); }

void setExitCode(int code) { pendingExitCode = code; }

}  // namespace cedevice

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  cedevice::reportClosedPipes();
  const std::string version = CE_VERSION;
  CLI::App app{"boots an emulated device with the client push listener and drives it",
               "cedevice"};
  // Before any command is added: each takes its parent's formatter.
  app.formatter(std::make_shared<cedevice::HelpFormatter>(cedevice::helpWidth()));
  app.require_subcommand(1);
  app.set_version_flag("--version", "cedevice " + version, "Print the version and exit");
  const cedevice::ReferenceTexts& texts = cedevice::referenceTexts();
  cedevice::describe(&app, cedevice::helpDetails(texts, cedevice::helpWidth()));
  std::string home;
  app.add_option("--home", home, "Device home (default: $CE_DEVICE_HOME, else ./device)")
      ->envname("CE_DEVICE_HOME")
      ->type_name("DIR");
  app.parse_complete_callback([&] {
    if (!home.empty()) setenv("CE_DEVICE_HOME", home.c_str(), 1);
    // The home as this tool reads it ("X/missing/../dev" is "X/dev") is the one every process
    // it starts uses: the kernel would walk through "missing", and mkdir it on the way.
    setenv("CE_DEVICE_HOME", cedevice::requestedHome().c_str(), 1);
    auto chosen = app.get_subcommands();
    if (!chosen.empty() && !cedevice::makesOrNeedsNoDevice(chosen.front()->get_name()))
      cedevice::requireDevice();
  });

  auto groups = cedevice::groups();
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [order, setup] : groups) setup(app);
  // Only described here: main() turns `help WORDS` into `WORDS --help` before parsing.
  std::vector<std::string> helpWords;
  app.add_subcommand("help", "Describe cedevice, or a command")
      ->add_option("COMMAND", helpWords, "The command (and subcommand) to describe");
  cedevice::addDocsCommand(app, texts, version);
  cedevice::dropInheritedDetails(app);

  std::vector<std::string> args(argv + 1, argv + argc);
  // The shells' completion scripts ask here, before any parsing: what they ask may be half
  // typed, and needs no device.
  if (!args.empty() && args.front() == cedevice::completeWord) {
    std::vector<std::string> before(args.begin() + 1, args.end());
    std::string current;
    if (!before.empty()) {
      current = before.back();
      before.pop_back();
    }
    for (const std::string& line : cedevice::completions(app, before, current))
      std::printf("%s\n", line.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  }

  // `cedevice help reg set` is `cedevice reg set --help`.
  size_t first = cedevice::firstCommandWord(app, args);
  if (first < args.size() && args[first] == "help") {
    args.erase(args.begin() + static_cast<long>(first));
    args.push_back("--help");
  }

  try {
    if (auto unknown = cedevice::unknownCommand(app, args)) {
      CLI::Formatter formatter;
      std::string usage = formatter.make_usage(unknown->level, unknown->path);
      std::fprintf(stderr, "cedevice: %s\n%sRun `%s --help` for the list of commands.\n",
                   unknown->message.c_str(), usage.substr(usage.find_first_not_of('\n')).c_str(),
                   unknown->path.c_str());
      return 2;
    }
    std::vector<const char*> parsed{argv[0]};
    for (const auto& arg : args) parsed.push_back(arg.c_str());
    app.parse(static_cast<int>(parsed.size()), parsed.data());
    try {
      cedevice::flushStandardOutput();
    } catch (const cedevice::Failure& e) {
      // By now the command has done what it does: a caller must not take it for undone.
      throw cedevice::Failure(std::string(e.what()) +
                              " (the command was carried out; only its output is lost)");
    }
  } catch (const CLI::CallForHelp&) {
    std::printf("%s", app.help().c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const CLI::CallForAllHelp&) {
    std::printf("%s", app.help("", CLI::AppFormatMode::All).c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const CLI::ParseError& e) {
    // Usage errors: the reason, then the usage line of the (sub)command, exit 2.
    auto [failed, name] = cedevice::chosenCommand(app);
    std::fprintf(stderr, "cedevice: %s\n", cedevice::usageMessage(e, *failed).c_str());
    cedevice::printUsageAfterError(failed, name);
    return 2;
  } catch (const cedevice::Failure& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "cedevice: %s\n", e.what());
    if (e.exitCode() == 2) {
      auto [failed, name] = cedevice::chosenCommand(app);
      cedevice::printUsageAfterError(failed, name);
    }
    return e.exitCode();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "cedevice: %s\n", e.what());
    return 1;
  }
  return cedevice::pendingExitCode;
}
