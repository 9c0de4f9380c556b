#include "apps/cedevice/device_glance.h"

#include <filesystem>

#include "apps/cedevice/device_access.h"
#include "platform/linux/device.h"
#include "platform/linux/store_glance.h"
#include "platform/linux/stores.h"

namespace cedevice {

namespace {

std::vector<std::string> narrowed(const std::vector<std::wstring>& names) {
  std::vector<std::string> out;
  out.reserve(names.size());
  for (const auto& name : names) out.push_back(narrow(name));
  return out;
}

}  // namespace

DeviceGlance::DeviceGlance(const std::string& home) {
  std::error_code error;
  // As requireDevice() decides, but in silence: a completion has nowhere to say why.
  if (!std::filesystem::is_directory(home + "/fs", error) ||
      !std::filesystem::is_directory(home + "/system", error))
    return;
  if (!ce::homeAccessProblem(home).empty() || !ce::homeTrustProblem(home).empty()) return;
  systemDir_ = home + "/system/";
}

std::vector<std::string> DeviceGlance::subkeys(const std::wstring& keyPath) const {
  if (systemDir_.empty()) return {};
  return narrowed(ce::glanceSubkeys(systemDir_ + ce::registryStoreName, keyPath));
}

std::vector<std::string> DeviceGlance::valueNames(const std::wstring& keyPath) const {
  if (systemDir_.empty()) return {};
  return narrowed(ce::glanceValueNames(systemDir_ + ce::registryStoreName, keyPath));
}

std::vector<ce::pim::Item> DeviceGlance::pimItems() const {
  if (systemDir_.empty()) return {};
  return ce::glancePimItems(systemDir_ + ce::pimStoreName);
}

}  // namespace cedevice
