// The ICU functions the platform calls, loaded the first time one is needed. Platform-internal.
//
// The listener needs ICU only for names beyond ASCII and for code pages other than UTF-8, which
// its usual day never meets; linked as the program starts, ICU cost every process its
// relocations and symbol lookups: some 200 KiB of an idle listener's private memory.
#pragma once

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/unorm2.h>

namespace ce::icu {

struct Functions {
  decltype(&::u_toupper) toUpper;
  decltype(&::u_tolower) toLower;
  decltype(&::u_charType) charType;
  decltype(&::unorm2_getNFCInstance) nfcInstance;
  decltype(&::unorm2_getNFDInstance) nfdInstance;
  decltype(&::unorm2_getDecomposition) decomposition;
  decltype(&::unorm2_composePair) composePair;
  decltype(&::ucnv_open) open;
  decltype(&::ucnv_close) close;
  decltype(&::ucnv_reset) reset;
  decltype(&::ucnv_resetToUnicode) resetToUnicode;
  decltype(&::ucnv_resetFromUnicode) resetFromUnicode;
  decltype(&::ucnv_toUChars) toUChars;
  decltype(&::ucnv_fromUChars) fromUChars;
  decltype(&::ucnv_setFallback) setFallback;
  decltype(&::ucnv_setSubstChars) setSubstChars;
  decltype(&::ucnv_setToUCallBack) setToUCallBack;
  decltype(&::ucnv_setFromUCallBack) setFromUCallBack;
  decltype(&::ucnv_cbFromUWriteSub) writeSubstitute;
  UConverterToUCallback toUnicodeStop;
  UConverterToUCallback toUnicodeSubstitute;
  UConverterFromUCallback fromUnicodeStop;
};

// Loads ICU on the first call, from any thread. A process that cannot load it ends there with
// exit code 127 and a line that names the library, as the loader itself would have at start.
const Functions& functions();

}  // namespace ce::icu
