#include "platform/linux/kernel/case_locale.h"

#include <wctype.h>

namespace ce {

locale_t caseLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

wchar_t upperCase(wchar_t c) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - L'a' + L'A');
  locale_t locale = c >= 0x80 ? caseLocale() : nullptr;
  return locale ? static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), locale)) : c;
}

wchar_t lowerCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
  locale_t locale = c >= 0x80 ? caseLocale() : nullptr;
  return locale ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), locale)) : c;
}

}  // namespace ce
