// What the device in a home holds, for shell completion: looked at in its stores, which are
// never created, changed or locked, and with no process of the device started.
#pragma once

#include <string>
#include <vector>

#include "platform/pimstore.h"

namespace cedevice {

class DeviceGlance {
 public:
  // The device in `home` (absolute). It shows nothing when the home holds no device, is
  // another user's or cannot be trusted: a completion must not read another user's data.
  explicit DeviceGlance(const std::string& home);

  // Names below HKEY_LOCAL_MACHINE\<keyPath>, UTF-8.
  std::vector<std::string> subkeys(const std::wstring& keyPath) const;
  std::vector<std::string> valueNames(const std::wstring& keyPath) const;
  std::vector<ce::pim::Item> pimItems() const;

 private:
  std::string systemDir_;  // "" when nothing may be looked at
};

}  // namespace cedevice
