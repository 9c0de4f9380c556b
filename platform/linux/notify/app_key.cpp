// Case folding of program paths.
#include "platform/linux/notify/app_key.h"

#include <wctype.h>

#include "platform/linux/kernel/case_locale.h"

namespace ce::notify {

// Upper case, as the device folds names: C.UTF-8's mapping, which knows every script, and the
// same as its mapping of ASCII for ASCII, which needs no locale.
std::wstring appKeyOf(const std::wstring& devicePath) {
  std::wstring key = devicePath;
  for (wchar_t& c : key) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    else if (c >= 0x80) {
      if (locale_t locale = ce::caseLocale())
        c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
    }
  }
  return key;
}

}  // namespace ce::notify
