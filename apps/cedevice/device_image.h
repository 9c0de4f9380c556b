// The device image: folders, the launcher program and the registry defaults.
#pragma once

namespace cedevice {

// Creates what is missing and keeps everything that is there; prints one line per thing made
// when `verbose`.
void initDevice(bool verbose);

}  // namespace cedevice
