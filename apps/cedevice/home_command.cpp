// `cedevice home`: where the device lives.
#include <cstdio>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_presence.h"

namespace home_command {
namespace {

void setup(CLI::App& app) {
  auto* home = app.add_subcommand("home", "Print the device home (whether or not it holds a "
                                          "device yet)");
  home->callback([] { std::printf("%s\n", cedevice::requestedHome().c_str()); });
}

cedevice::CommandGroup group(90, setup);

}  // namespace
}  // namespace home_command
