// `cedevice log`: the listener's log, whole or its last lines, and followed by name as
// `tail -F` does, through truncation and re-creation of the file.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/log_reader.h"
#include "apps/cedevice/standard_output.h"
#include "apps/cedevice/usage_errors.h"
#include "platform/linux/process.h"

namespace log_command {
namespace {

namespace fs = std::filesystem;
using cedevice::Failure;

// How often --until-shutdown looks whether the listener is still there.
constexpr int shutdownCheckMs = 200;

struct Options {
  bool follow = false;
  bool untilShutdown = false;
  int lines = -1;  // -1: the whole log (10 when following)
};

// The last `count` lines of `text` (all of it when count < 0).
std::string lastLines(const std::string& text, int count) {
  if (count < 0) return text;
  size_t start = text.size();
  for (int seen = 0; start > 0; --start)
    if (text[start - 1] == '\n' && start != text.size() && ++seen == count) break;
  return count == 0 ? "" : text.substr(start);
}

void print(const std::string& text) {
  if (text.empty()) return;
  std::fputs(text.c_str(), stdout);
  cedevice::flushStandardOutput();
}

void showLog(const Options& options) {
  std::string path = cedevice::listenerLogPath();
  bool follow = options.follow || options.untilShutdown;
  if (!follow && !fs::exists(path))
    throw Failure("the listener has not written a log yet (" + path + ")");
  // Held through its pidfd from here on, so a later process given the same pid is not
  // mistaken for the listener still running.
  ce::Process listener;
  if (options.untilShutdown)
    if (HWND window = cedevice::findListenerWindow())
      if (auto identity = ce::ProcessIdentity::of(cedevice::ownerOf(window)))
        listener = ce::Process::find(*identity);
  // Watching starts before the first read, so no line falls between the two.
  std::unique_ptr<ce::EventWaiter> waiter;
  if (follow) waiter = std::make_unique<ce::EventWaiter>(path);
  cedevice::LogReader reader(path);
  print(lastLines(reader.next(), options.lines < 0 && follow ? 10 : options.lines));
  if (!follow || (options.untilShutdown && !listener.valid())) return;
  for (;;) {
    auto event = waiter->wait(options.untilShutdown ? shutdownCheckMs : -1);
    if (event == ce::EventWaiter::Event::interrupted) return;
    print(reader.next());
    if (options.untilShutdown && listener.ended()) {
      print(reader.next());
      return;
    }
  }
}

void setup(CLI::App& app) {
  auto options = std::make_shared<Options>();
  auto* log = cedevice::describe(
      app.add_subcommand("log", "Print the listener's log, \\notlstnr.txt"),
      "Without options prints the whole log. With -f it prints the last lines (10 unless -n\n"
      "says otherwise) and then every new line as it is written, following the file by name\n"
      "as `tail -F` does: when the log is emptied or replaced, it goes on from the new start.\n"
      "It ends with Ctrl-C, or with --until-shutdown when the listener ends.");
  log->add_flag("-f,--follow", options->follow, "Keep printing new lines until Ctrl-C");
  log->add_option("-n,--lines", options->lines, "Print only the last N lines")
      ->check(cedevice::numberIn(0, 1000000))
      ->type_name("N");
  log->add_flag("--until-shutdown", options->untilShutdown,
                "Follow the log until the listener ends (implies -f)");
  log->callback([options] { showLog(*options); });
}

cedevice::CommandGroup group(12, setup);

}  // namespace
}  // namespace log_command
