// Whether the home a command names holds a device. Only `init` and `boot` make one; every
// other command refuses a home without a device, so a mistyped --home creates nothing.
#pragma once

#include <string>

namespace cedevice {

// The device home named by --home or $CE_DEVICE_HOME (else ./device), absolute; nothing is
// created.
std::string requestedHome();
// The same for a home given as `home` ("" for the default), whatever the environment says.
std::string homeNamed(const std::string& home);

// Throws Failure (exit 1) when the requested home holds no device, or when it belongs to
// another user ("permission denied": such a caller cannot tell anything about the device).
void requireDevice();
// Throws Failure (exit 1) when the requested home exists and belongs to another user, or
// cannot be trusted (see ce::homeTrustProblem).
void requireAccess();

}  // namespace cedevice
