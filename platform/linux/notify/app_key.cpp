// Case folding of program paths.
#include "platform/linux/notify/app_key.h"

#include "platform/linux/kernel/case_locale.h"

namespace ce::notify {

// Upper case, as the device folds names: C.UTF-8's mapping, which knows every script.
std::wstring appKeyOf(const std::wstring& devicePath) {
  std::wstring key = devicePath;
  for (wchar_t& c : key) c = ce::upperCase(c);
  return key;
}

}  // namespace ce::notify
