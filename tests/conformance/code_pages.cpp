// Code pages: MultiByteToWideChar and WideCharToMultiByte over every page the charset table
// names, as the code-page comparison against Wine asks them (the shared wine-codepages tool):
// every single byte, every pair 81-FE x 40-FE of a lead-byte page, and every BMP character but
// the surrogates, with flags 0 as the callers convert; then the flags and edge cases a careful
// caller meets.
//
// 3.2 million answers cannot each be a line, so they are summed up per block: a byte row or 256
// code points make one line holding a digest of the block's answers. A block whose digest
// differs is then listed in detailedBlocks below, and prints each conversion on a line of its
// own, so that every remaining difference stands in the table of expected differences by name,
// with the two answers and its reason.
#include <cstdint>
#include <cstring>
#include <string>

#include "conformance.h"

using conformance::answer;
using conformance::answerText;

namespace {

// Pages both sides convert, and the lead-byte pages among them.
constexpr UINT kPages[] = {37,    437,   708,   720,   737,   775,   850,   852,   857,   861,
                           862,   866,   869,   874,   875,   932,   936,   949,   950,   1026,
                           1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  10000,
                           10004, 10005, 10006, 10007, 10029, 10079, 10081, 20127, 20866, 21866,
                           28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28605,
                           65000, 65001};
// Pages the charset table names that the device may lack.
constexpr UINT kOtherPages[] = {1361, 10001, 10002, 10003, 10008, 20000, 20002, 29001};

bool isLeadBytePage(UINT page) { return page == 932 || page == 936 || page == 949 || page == 950; }

// Windows refuses lpUsedDefaultChar for these pages.
bool takesUsedDefault(UINT page) {
  return page != 65000 && page != 65001;
}

// Blocks printed conversion by conversion: "<page> decode <lead byte or 00>" and
// "<page> encode <first code point>". None differs today; a block whose digest comes to differ
// goes here, and each of its differing conversions into the table.
constexpr const char* kDetailedBlocks[] = {nullptr};

bool detailed(UINT page, const char* direction, unsigned first) {
  char name[48];
  std::snprintf(name, sizeof name, "%u %s %0*X", page, direction,
                std::strcmp(direction, "decode") == 0 ? 2 : 4, first);
  for (const char* block : kDetailedBlocks)
    if (block && std::strcmp(block, name) == 0) return true;
  return false;
}

// wide text as UTF-16 code units in hex, whichever width WCHAR has
std::string units(const WCHAR* wide, int count) {
  std::string out;
  char unit[16];
  for (int i = 0; i < count; ++i) {
    auto c = static_cast<unsigned long>(wide[i]);
    if (c >= 0x10000) {
      std::snprintf(unit, sizeof unit, "%04lx", 0xD800 + ((c - 0x10000) >> 10));
      out += unit;
      c = 0xDC00 + ((c - 0x10000) & 0x3FF);
    }
    std::snprintf(unit, sizeof unit, "%04lx", c);
    out += unit;
  }
  return out;
}

std::string error() {
  return "ERR " + std::to_string(static_cast<unsigned long>(GetLastError()));
}

std::string decodeAnswer(UINT page, DWORD flags, const char* bytes, int size) {
  WCHAR wide[64];
  SetLastError(0);
  int n = MultiByteToWideChar(page, flags, bytes, size, wide, 64);
  return n > 0 ? units(wide, n) : error();
}

std::string encodeAnswer(UINT page, DWORD flags, const WCHAR* wide, int count,
                         const char* defaultChar = nullptr) {
  char bytes[64];
  BOOL used = FALSE;
  SetLastError(0);
  int n = WideCharToMultiByte(page, flags, wide, count, bytes, sizeof bytes, defaultChar,
                              takesUsedDefault(page) ? &used : nullptr);
  if (n <= 0) return error();
  return conformance::hex(bytes, static_cast<size_t>(n)) + (used ? " U" : "");
}

// FNV-1a over the answers of a block
struct Digest {
  uint64_t value = 14695981039346656037ull;
  void add(const std::string& text) {
    for (unsigned char c : text + "\n") value = (value ^ c) * 1099511628211ull;
  }
};

// One block of answers: a digest line, or a line per conversion when the block is detailed.
class Block {
 public:
  Block(UINT page, const char* direction, unsigned first)
      : page_(page), direction_(direction), first_(first),
        detailed_(detailed(page, direction, first)) {}
  void add(const char* question, const std::string& reply) {
    ++count_;
    if (detailed_) {
      char check[64];
      std::snprintf(check, sizeof check, "cp%u %s %s", page_, direction_, question);
      answerText(check, reply);
    } else {
      digest_.add(reply);
    }
  }
  ~Block() {
    if (detailed_ || count_ == 0) return;
    char check[64];
    std::snprintf(check, sizeof check, "cp%u %s block %0*X", page_, direction_,
                  std::strcmp(direction_, "decode") == 0 ? 2 : 4, first_);
    answer(check, "%d answers, digest %016llx", count_,
           static_cast<unsigned long long>(digest_.value));
  }

 private:
  UINT page_;
  const char* direction_;
  unsigned first_;
  bool detailed_;
  int count_ = 0;
  Digest digest_;
};

void checkPage(UINT page) {
  char question[16];
  {
    Block singles(page, "decode", 0);
    for (int b = 0; b < 256; ++b) {
      char byte = static_cast<char>(b);
      std::snprintf(question, sizeof question, "%02x", b);
      singles.add(question, decodeAnswer(page, 0, &byte, 1));
    }
  }
  if (isLeadBytePage(page)) {
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      Block row(page, "decode", static_cast<unsigned>(lead));
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        std::snprintf(question, sizeof question, "%02x%02x", lead, trail);
        row.add(question, decodeAnswer(page, 0, pair, 2));
      }
    }
  }
  for (unsigned first = 0; first < 0x10000; first += 0x100) {
    if (first >= 0xD800 && first < 0xE000) continue;
    Block block(page, "encode", first);
    for (unsigned c = first; c < first + 0x100; ++c) {
      const WCHAR wide = static_cast<WCHAR>(c);
      std::snprintf(question, sizeof question, "U+%04X", c);
      block.add(question, encodeAnswer(page, 0, &wide, 1));
    }
  }
}

// The cases a caller meets beyond single characters.
void checkEdgeCases() {
  const WCHAR hidden[] = {L'A', 0x200B, L'B', 0xFEFF, 0x00AD};
  answerText("1252 zero-width space, BOM and soft hyphen are not dropped",
             encodeAnswer(1252, 0, hidden, 5));
  const WCHAR macron[] = {0x0100, 0x0101};
  answerText("1252 best fit of A with macron", encodeAnswer(1252, 0, macron, 2));
  const WCHAR fullwidth[] = {0xFF21, 0xFF1F};
  answerText("1252 fullwidth A and question mark", encodeAnswer(1252, 0, fullwidth, 2));
  // one character above U+FFFF: a surrogate pair where WCHAR has 16 bits
  const WCHAR face[] = {static_cast<WCHAR>(sizeof(WCHAR) == 2 ? 0xD83D : 0x1F600), 0xDE00};
  answerText("1252 a character above U+FFFF",
             encodeAnswer(1252, 0, face, sizeof(WCHAR) == 2 ? 2 : 1));
  const WCHAR unmapped[] = {0x20AC, 0x4E2D};
  answerText("874 the caller's default character", encodeAnswer(874, 0, unmapped, 2, "*"));
  answerText("932 the caller's default character as a pair",
             encodeAnswer(932, 0, unmapped + 1, 1, "\x81\x48"));

  answerText("932 lone lead byte, flags 0", decodeAnswer(932, 0, "a\x81", 2));
  answerText("932 lone lead byte, MB_ERR_INVALID_CHARS",
             decodeAnswer(932, MB_ERR_INVALID_CHARS, "a\x81", 2));
  answerText("949 pair without a character, flags 0", decodeAnswer(949, 0, "\x81\x40", 2));
  answerText("949 pair without a character, MB_ERR_INVALID_CHARS",
             decodeAnswer(949, MB_ERR_INVALID_CHARS, "\x81\x40", 2));
  answerText("1253 undefined byte, flags 0", decodeAnswer(1253, 0, "\xAA", 1));
  answerText("1253 undefined byte, MB_ERR_INVALID_CHARS",
             decodeAnswer(1253, MB_ERR_INVALID_CHARS, "\xAA", 1));
  answerText("20127 byte above 7F, MB_ERR_INVALID_CHARS",
             decodeAnswer(20127, MB_ERR_INVALID_CHARS, "\xC1", 1));
  answerText("65001 invalid sequence, flags 0", decodeAnswer(65001, 0, "\xC3(", 2));
  answerText("65001 invalid sequence, MB_ERR_INVALID_CHARS",
             decodeAnswer(65001, MB_ERR_INVALID_CHARS, "\xC3(", 2));
  answerText("65001 truncated sequence at the end", decodeAnswer(65001, 0, "ab\xE2\x82", 4));
  answerText("65001 encoded surrogate", decodeAnswer(65001, 0, "\xED\xA0\x80", 3));

  answerText("437 MB_USEGLYPHCHARS", decodeAnswer(437, MB_USEGLYPHCHARS, "\x01\x7F", 2));
  answerText("1252 MB_COMPOSITE", decodeAnswer(1252, MB_COMPOSITE, "\xE9", 1));
  answerText("1252 MB_PRECOMPOSED with MB_COMPOSITE",
             decodeAnswer(1252, MB_PRECOMPOSED | MB_COMPOSITE, "a", 1));
  answerText("1252 unknown MultiByteToWideChar flag", decodeAnswer(1252, 0x100, "a", 1));
  answerText("65001 MB_PRECOMPOSED", decodeAnswer(65001, MB_PRECOMPOSED, "a", 1));
  answerText("65000 MB_ERR_INVALID_CHARS", decodeAnswer(65000, MB_ERR_INVALID_CHARS, "a", 1));

  const WCHAR composite[] = {L'e', 0x0301, L'x', 0x0301};
  answerText("1252 WC_COMPOSITECHECK", encodeAnswer(1252, WC_COMPOSITECHECK, composite, 4));
  answerText("1252 WC_COMPOSITECHECK with WC_DISCARDNS",
             encodeAnswer(1252, WC_COMPOSITECHECK | WC_DISCARDNS, composite, 4));
  answerText("1252 WC_COMPOSITECHECK with WC_DEFAULTCHAR",
             encodeAnswer(1252, WC_COMPOSITECHECK | WC_DEFAULTCHAR, composite, 4));
  answerText("1252 without WC_COMPOSITECHECK", encodeAnswer(1252, 0, composite, 4));
  answerText("1252 unknown WideCharToMultiByte flag", encodeAnswer(1252, 0x1000, composite, 1));

  // "<result> err=<error>" of each call, made with the last error cleared
  auto cleared = [](auto call) {
    SetLastError(0);
    return conformance::withError(call());
  };
  char narrow[8];
  BOOL used = FALSE;
  answerText("65001 with a used-default flag", cleared([&] {
    return WideCharToMultiByte(65001, 0, L"a", 1, narrow, 8, nullptr, &used);
  }));
  answerText("65000 with a default character", cleared([&] {
    return WideCharToMultiByte(65000, 0, L"a", 1, narrow, 8, "?", nullptr);
  }));
  WCHAR wide[4];
  answerText("1252 size query counts the terminator",
             cleared([&] { return MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0); }));
  answerText("1252 buffer one too small",
             cleared([&] { return MultiByteToWideChar(1252, 0, "abcd", -1, wide, 4); }));
  answerText("1252 empty input",
             cleared([&] { return MultiByteToWideChar(1252, 0, "", 0, wide, 4); }));
  answerText("932 encode size query", cleared([&] {
    return WideCharToMultiByte(932, 0, L"\u65e5\u672c", 2, nullptr, 0, nullptr, nullptr);
  }));
}

}  // namespace

int main() {
  for (UINT page : kOtherPages) {
    SetLastError(0);
    WCHAR wide[4];
    int n = MultiByteToWideChar(page, 0, "a", 1, wide, 4);
    answerText(("cp" + std::to_string(page) + " supported").c_str(), n > 0 ? "yes" : error());
  }
  for (UINT page : kPages) checkPage(page);
  checkEdgeCases();
  return 0;
}
