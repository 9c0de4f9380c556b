// Case folding of program paths.
#include "platform/linux/notify/app_key.h"

#include <locale.h>
#include <wctype.h>

namespace ce::notify {

namespace {

// Upper case, as the device folds names; C.UTF-8 knows every script. Created once and never
// changed, so sharing it between threads is safe.
locale_t foldingLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace

std::wstring appKeyOf(const std::wstring& devicePath) {
  std::wstring key = devicePath;
  locale_t locale = foldingLocale();
  for (wchar_t& c : key) {
    if (locale) c = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale));
    else if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return key;
}

}  // namespace ce::notify
