// The suspension flags the device tool knows of: the listener keeps its flags in memory only,
// so the tool remembers what it sent, per listener process, in run/control-flags.
#pragma once

#include <string>

namespace cedevice {

// The flags sent to listener `pid` so far, one '0'/'1' per source in table order.
std::string knownFlags(int pid);
// Records a suspend (flagNumber, 1) or resume (flagNumber, any other) sent to `pid`.
void rememberCommand(int pid, unsigned flagNumber, bool suspend);

}  // namespace cedevice
