// Code page -> converter.
//
// Single-byte pages use the vendor's own tables, best fit included (single_byte_tables.cpp,
// generated from them): what a character the page lacks becomes is part of the page, and no
// library carries it for these pages.
//
// The lead-byte pages 932, 936, 949 and 950 take their pairs from ICU, which carries the vendor's
// tables under their exact names, best fit included as ICU's fallback mappings; the converter
// around them decodes and encodes as the device does (a lone lead byte, a pair without a
// character). Where ICU has IBM's variant (932) the device's additions live beside it.
// Generic aliases such as "windows-932" are avoided on purpose: what they resolve to changes
// between ICU releases.
//
// UTF-7 has a codec of its own (ICU writes and reads it as RFC 2152 allows, the device does
// not). Stateful pages, EBCDIC double-byte pages and UTF-16 go through ICU as it is, and the
// few pages ICU lacks through glibc's iconv. A page with neither is left out and fails as
// unsupported. Left out: 1361 and 10001-10003, 10008 (Johab and the Mac CJK pages: no converter
// carries the vendor's tables), 20000, 20002 (CNS, ETEN), 20105-20108 (IA5 national variants),
// 20833, 29001, 50931.
#include "platform/linux/codepages/code_page_table.h"

#include <algorithm>
#include <iterator>

namespace ce::kernel {

namespace {

constexpr ConverterKind singleByte = ConverterKind::singleByte;
constexpr ConverterKind doubleByte = ConverterKind::doubleByte;
constexpr ConverterKind icu = ConverterKind::icu;

// Sorted by code page.
constexpr CodePageConverter converters[] = {
    {37, singleByte},
    {437, singleByte},
    {708, singleByte},
    {720, singleByte},
    {737, singleByte},
    {775, singleByte},
    {850, singleByte},
    {852, singleByte},
    {857, singleByte},
    {861, singleByte},
    {862, singleByte},
    {866, singleByte},
    {869, singleByte},
    {870, icu, "ibm-870_P100-1995"},
    {874, singleByte},
    {875, singleByte},
    {932, doubleByte, "ibm-943_P15A-2003", {0x81, 0x9F, 0xE0, 0xFC}, 0x30FB},
    {936, doubleByte, "windows-936-2000", {0x81, 0xFE}, 0x003F},
    {949, doubleByte, "windows-949-2000", {0x81, 0xFE}, 0x003F},
    {950, doubleByte, "windows-950-2000", {0x81, 0xFE}, 0x003F},
    {1026, singleByte},
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
    {1250, singleByte},
    {1251, singleByte},
    {1252, singleByte},
    {1253, singleByte},
    {1254, singleByte},
    {1255, singleByte},
    {1256, singleByte},
    {1257, singleByte},
    {1258, singleByte},
    {10000, singleByte},
    {10004, singleByte},
    {10005, singleByte},
    {10006, singleByte},
    {10007, singleByte},
    {10029, singleByte},
    {10079, singleByte},
    {10081, singleByte},
    {20127, singleByte},
    {20273, icu, "ibm-273_P100-1995"},
    {20277, icu, "ibm-277_P100-1995"},
    {20278, icu, "ibm-278_P100-1995"},
    {20280, icu, "ibm-280_P100-1995"},
    {20284, icu, "ibm-284_P100-1995"},
    {20285, icu, "ibm-285_P100-1995"},
    {20290, icu, "ibm-290_P100-1995"},
    {20420, icu, "ibm-420_X120-1999"},
    {20423, ConverterKind::iconv, "IBM423"},
    {20424, icu, "ibm-424_P100-1995"},
    {20838, icu, "ibm-838_P100-1995"},
    {20866, singleByte},
    {20871, icu, "ibm-871_P100-1995"},
    {20880, ConverterKind::iconv, "IBM880"},
    {20905, ConverterKind::iconv, "IBM905"},
    {21025, icu, "ibm-1025_P100-1995"},
    {21866, singleByte},
    {28591, singleByte},
    {28592, singleByte},
    {28593, singleByte},
    {28594, singleByte},
    {28595, singleByte},
    {28596, singleByte},
    {28597, singleByte},
    {28598, singleByte},
    {28599, singleByte},
    {28605, singleByte},
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
    {65000, ConverterKind::utf7},
};

}  // namespace

const CodePageConverter* converterFor(UINT codePage) {
  auto* found = std::lower_bound(
      std::begin(converters), std::end(converters), codePage,
      [](const CodePageConverter& entry, UINT page) { return entry.codePage < page; });
  return found != std::end(converters) && found->codePage == codePage ? found : nullptr;
}

}  // namespace ce::kernel
