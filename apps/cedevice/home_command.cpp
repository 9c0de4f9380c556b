// `cedevice home`: where the device lives.
#include <cstdio>

#include "apps/cedevice/command.h"
#include "platform/device.h"

namespace {

void setup(CLI::App& app) {
  auto* home = app.add_subcommand("home", "Print the device home, creating it if needed");
  home->callback([] { std::printf("%s\n", ce::deviceHome().c_str()); });
}

cedevice::CommandGroup group(90, setup);

}  // namespace
