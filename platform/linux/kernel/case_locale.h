// The C library's case mappings of every script, for the few callers that fold text beyond
// ASCII. Platform-internal.
#pragma once

#include <locale.h>

namespace ce {

// C.UTF-8's character classes, loaded at the first call rather than set for the whole process:
// a process that only ever folds ASCII (the listener, most days) never maps the locale's
// 350 KB file. Made once and never changed, so threads may share it; null where the locale
// is not installed, and callers then fold ASCII alone, as the C locale does.
locale_t caseLocale();

// C.UTF-8's upper and lower case of `c`: ASCII's own without a locale, the rest through
// caseLocale().
wchar_t upperCase(wchar_t c);
wchar_t lowerCase(wchar_t c);

}  // namespace ce
