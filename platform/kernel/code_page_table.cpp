// Code page -> converter. ICU carries the vendors' own tables under their exact names, where
// iconv's aliases often point at a neighbouring standard (TIS-620 for 874, BIG5 for 950), so
// ICU is used wherever it has the table itself. Generic aliases such as "windows-932" are
// avoided on purpose: what they resolve to changes between ICU releases.
//
// iconv is used only where ICU's data lacks the page or carries IBM's variant of it (the DOS
// pages, where IBM swaps the controls 1A/1C/7F and differs in a few letters), and glibc's table
// was checked against the published one. A page with neither is left out and fails as
// unsupported. Left out:
//   10001-10005, 10008 (Mac CJK, Arabic, Hebrew), 20000, 20002 (CNS, ETEN), 20105-20108 (IA5
//   national variants), 20833, 29001, 50931: no converter has their tables;
//   1361 (Johab) and 10079 (Mac Icelandic): ICU lacks them and glibc departs from the
//   published tables.
// Where ICU has IBM's variant of a page and the device only adds to it (720, 932), the
// additions live beside the ICU converter (icu_page_converter.cpp).
#include "platform/kernel/code_page_table.h"

#include <algorithm>
#include <iterator>

namespace ce::kernel {

namespace {

constexpr ConverterKind icu = ConverterKind::icu;
constexpr ConverterKind iconv = ConverterKind::iconv;

// Sorted by code page.
constexpr CodePageConverter converters[] = {
    {37, icu, "ibm-37_P100-1995"},
    {437, iconv, "IBM437"},
    {708, iconv, "ASMO-708"},
    {720, icu, "ibm-720_P100-1997"},
    {737, iconv, "CP737"},
    {775, iconv, "CP775"},
    {850, iconv, "IBM850"},
    {852, iconv, "IBM852"},
    {857, iconv, "IBM857"},
    {861, iconv, "IBM861"},
    {862, iconv, "IBM862"},
    {866, iconv, "IBM866"},
    {869, iconv, "IBM869"},
    {870, icu, "ibm-870_P100-1995"},
    {874, icu, "windows-874-2000"},
    {875, icu, "ibm-875_P100-1995"},
    {932, icu, "ibm-943_P15A-2003"},
    {936, icu, "windows-936-2000"},
    {949, icu, "windows-949-2000"},
    {950, icu, "windows-950-2000"},
    {1026, icu, "ibm-1026_P100-1995"},
    {1140, icu, "ibm-1140_P100-1997"},
    {1141, icu, "ibm-1141_P100-1997"},
    {1142, icu, "ibm-1142_P100-1997"},
    {1143, icu, "ibm-1143_P100-1997"},
    {1144, icu, "ibm-1144_P100-1997"},
    {1145, icu, "ibm-1145_P100-1997"},
    {1146, icu, "ibm-1146_P100-1997"},
    {1147, icu, "ibm-1147_P100-1997"},
    {1148, icu, "ibm-1148_P100-1997"},
    {1149, icu, "ibm-1149_P100-1997"},
    {1200, icu, "UTF-16LE"},
    {1201, icu, "UTF-16BE"},
    {1250, icu, "ibm-5346_P100-1998"},
    {1251, icu, "ibm-5347_P100-1998"},
    {1252, icu, "ibm-5348_P100-1997"},
    {1253, icu, "ibm-5349_P100-1998"},
    {1254, icu, "ibm-5350_P100-1998"},
    {1255, icu, "ibm-9447_P100-2002"},
    {1256, icu, "ibm-9448_X100-2005"},
    {1257, icu, "ibm-9449_P100-2002"},
    {1258, icu, "ibm-5354_P100-1998"},
    {10000, icu, "macos-0_2-10.2"},
    {10006, icu, "macos-6_2-10.4"},
    {10007, icu, "macos-7_3-10.2"},
    {10029, icu, "macos-29-10.2"},
    {10081, icu, "macos-35-10.2"},
    {20127, icu, "US-ASCII"},
    {20273, icu, "ibm-273_P100-1995"},
    {20277, icu, "ibm-277_P100-1995"},
    {20278, icu, "ibm-278_P100-1995"},
    {20280, icu, "ibm-280_P100-1995"},
    {20284, icu, "ibm-284_P100-1995"},
    {20285, icu, "ibm-285_P100-1995"},
    {20290, icu, "ibm-290_P100-1995"},
    {20420, icu, "ibm-420_X120-1999"},
    {20423, iconv, "IBM423"},
    {20424, icu, "ibm-424_P100-1995"},
    {20838, icu, "ibm-838_P100-1995"},
    {20866, icu, "ibm-878_P100-1996"},
    {20871, icu, "ibm-871_P100-1995"},
    {20880, iconv, "IBM880"},
    {20905, iconv, "IBM905"},
    {21025, icu, "ibm-1025_P100-1995"},
    {21866, icu, "ibm-1168_P100-2002"},
    {28591, icu, "ISO-8859-1"},
    {28592, icu, "ibm-912_P100-1995"},
    {28593, icu, "ibm-913_P100-2000"},
    {28594, icu, "ibm-914_P100-1995"},
    {28595, icu, "ibm-915_P100-1995"},
    {28596, icu, "ibm-1089_P100-1995"},
    {28597, icu, "ibm-9005_X110-2007"},
    {28598, icu, "ibm-5012_P100-1999"},
    {28599, icu, "ibm-920_P100-1995"},
    {28605, icu, "ibm-923_P100-1998"},
    {38598, icu, "ibm-5012_P100-1999"},  // the same bytes as 28598, in logical order
    {50220, icu, "ISO_2022,locale=ja,version=0"},
    {50221, icu, "ISO_2022,locale=ja,version=1"},
    {50222, icu, "ISO_2022,locale=ja,version=0"},
    {50225, icu, "ISO_2022,locale=ko,version=0"},
    {50930, icu, "ibm-930_P120-1999"},
    {50933, icu, "ibm-933_P110-1995"},
    {50935, icu, "ibm-935_P110-1999"},
    {50937, icu, "ibm-937_P110-1999"},
    {50939, icu, "ibm-939_P120-1999"},
    {51932, icu, "ibm-33722_P12A_P12A-2009_U2"},
    {51936, icu, "windows-936-2000"},  // the device encodes EUC-CN with its GBK table
    {51949, icu, "ibm-970_P110_P110-2006_U2"},
    {52936, icu, "HZ"},
    {57002, icu, "ISCII,version=0"},
    {57003, icu, "ISCII,version=1"},
    {57004, icu, "ISCII,version=5"},
    {57005, icu, "ISCII,version=6"},
    {57006, icu, "ISCII,version=1"},
    {57007, icu, "ISCII,version=4"},
    {57008, icu, "ISCII,version=7"},
    {57009, icu, "ISCII,version=8"},
    {57010, icu, "ISCII,version=3"},
    {57011, icu, "ISCII,version=2"},
    {65000, icu, "UTF-7"},
};

}  // namespace

const CodePageConverter* converterFor(UINT codePage) {
  auto* found = std::lower_bound(
      std::begin(converters), std::end(converters), codePage,
      [](const CodePageConverter& entry, UINT page) { return entry.codePage < page; });
  return found != std::end(converters) && found->codePage == codePage ? found : nullptr;
}

}  // namespace ce::kernel
