#include "platform/linux/kernel/case_locale.h"

namespace ce {

locale_t caseLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

}  // namespace ce
