// The code-page conversions the conformance area does not compare with Wine, against Python's
// codecs, an implementation built from the published tables independently of ours, and strict
// UTF-8 at its boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "tests/support/tool_run.h"

namespace {

std::string bytesOf(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::wstring textOf(const std::string& points) {
  std::wstring out;
  std::stringstream in(points);
  for (std::string point; std::getline(in, point, '.');)
    if (!point.empty()) out += static_cast<wchar_t>(std::stoul(point, nullptr, 16));
  return out;
}

bool decodes(UINT page, const std::string& bytes, const std::wstring& expected) {
  wchar_t out[64];
  int n = MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), out, 64);
  return n > 0 && std::wstring(out, static_cast<size_t>(n)) == expected;
}

bool encodes(UINT page, const std::wstring& text, const std::string& expected) {
  char out[64];
  BOOL usedDefault = FALSE;
  // UTF-7 and the stateful pages take no used-default flag
  bool flagless = page == 65000 || page == 52936 || (page >= 50220 && page <= 50229);
  int n = WideCharToMultiByte(page, 0, text.data(), static_cast<int>(text.size()), out, 64,
                              nullptr, flagless ? nullptr : &usedDefault);
  return n > 0 && !usedDefault && std::string(out, static_cast<size_t>(n)) == expected;
}

struct PageResult {
  std::string codec;
  int checked = 0;
  std::vector<std::string> differences;
};

// Runs the reference script and compares every mapping it gives.
std::map<UINT, PageResult> compareWithPython() {
  std::map<UINT, PageResult> pages;
  std::istringstream reference(
      ce::test::runShell("python3 " CE_CODE_PAGE_REFERENCE, "/dev/null").out);
  PageResult* page = nullptr;
  UINT number = 0;
  for (std::string read; std::getline(reference, read);) {
    std::stringstream line(read);
    std::string kind, first, second, third;
    line >> kind >> first >> second >> third;
    if (kind == "page") {
      number = static_cast<UINT>(std::stoul(first));
      page = &pages[number];
      page->codec = second;
      continue;
    }
    if (!page) continue;
    ++page->checked;
    std::string bytes = bytesOf(first);
    std::wstring text = textOf(second);
    std::string problem;
    if (!decodes(number, bytes, text)) problem = "decoding " + first + " (expected " + second + ")";
    else if (kind == "m" && third != "-" && !encodes(number, text, bytesOf(third)))
      problem = "encoding " + second + " (expected " + third + ")";
    else if (kind == "s" && !encodes(number, text, bytes))
      problem = "encoding " + second + " (expected " + first + ")";
    if (!problem.empty()) page->differences.push_back(problem);
  }
  return pages;
}

TEST(CodePageTest, EveryPagePythonKnowsConvertsAsItsPublishedTableSays) {
  std::map<UINT, PageResult> pages = compareWithPython();
  ASSERT_EQ(pages.size(), 16u) << "the reference script did not run whole";
  // Where the device's table and Python's codec part ways, the device wins. Each departure is
  // listed by the mappings it touches, so a new wrong mapping on a listed page still fails.
  const std::map<UINT, std::set<std::string>> departures = {
      // ICU has the macron U+00AF, Python the overline U+203E
      {20273, {"decoding bc"}},
      // ICU has U+2022 and U+203E, Python U+00B7 and U+00AF
      {20424, {"decoding b3", "decoding bc"}},
      // ISO-2022-KR: ICU announces the character set before plain ASCII too
      {50225, {"encoding 61.62.63", "encoding 61.d55c.62"}},
      // Python follows JIS, the device its own 932 table
      {51932, {"decoding a1c1", "decoding a1f1"}},
      // HZ: ICU closes with an escape even after plain ASCII
      {52936, {"encoding 61.62.63", "encoding 4e2d.6587", "encoding 61.4e2d.62"}},
  };
  for (const auto& [number, page] : pages) {
    EXPECT_GT(page.checked, 0) << number;
    if (number == 1361) {
      // No converter carries the published Johab table: the device lacks the page.
      EXPECT_EQ(page.differences.size(), static_cast<size_t>(page.checked));
      continue;
    }
    std::set<std::string> found;
    for (const std::string& problem : page.differences)
      found.insert(problem.substr(0, problem.find(" (expected")));
    auto listed = departures.find(number);
    EXPECT_EQ(found, listed == departures.end() ? std::set<std::string>{} : listed->second)
        << number << " (" << page.codec << ")"
        << (page.differences.empty() ? "" : " differs: " + page.differences.front());
  }
}

TEST(CodePageTest, Utf8IsStrictAtEveryBoundaryWhenAskedAndReplacesOtherwise) {
  wchar_t wide[8];
  for (const char* rejected : {"\xC0\xAF", "\xE0\x82\xA9", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",
                               "\xF4\x90\x80\x80", "\xED\xA0\x80"}) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, rejected, -1, wide, 8), 0)
        << rejected;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
  struct { const char* bytes; wchar_t expected; } accepted[] = {
      {"\xDF\xBF", 0x7FF}, {"\xE0\xA0\x80", 0x800}, {"\xF0\x90\x80\x80", 0x10000},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF}};
  for (const auto& a : accepted) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, a.bytes, -1, wide, 8), 2);
    EXPECT_EQ(wide[0], a.expected);
  }
  // With flags 0 an invalid part is one U+FFFD: a lead byte with the trail bytes that still
  // fit its character, a sequence cut short by the end with all that is left, a stray byte alone
  // (a lead byte before ASCII, a cut at the end and a surrogate are the conformance area's).
  struct { const char* bytes; std::wstring expected; } replaced[] = {
      {"\xE0\x80\xAF", L"\uFFFD\uFFFD"}, {"\xF0\x9F\x98", L"\uFFFD"},
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD"}, {"\xFF\xC0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82\xACz", L"\u20ACz"}};
  for (const auto& r : replaced) {
    int n = MultiByteToWideChar(CP_UTF8, 0, r.bytes, static_cast<int>(std::strlen(r.bytes)),
                                wide, 8);
    EXPECT_EQ(std::wstring(wide, static_cast<size_t>(n > 0 ? n : 0)), r.expected) << r.bytes;
  }
}

// What the code_pages conformance area does not ask: a page it does not compare (20273), and
// the flags the device has not (WC_NO_BEST_FIT_CHARS, glyphs of a stateful page, a used-default
// flag for UTF-7).
TEST(CodePageTest, FlagsZeroNeverDropsACharacterAndOnlyTheDevicesFlagsAreTaken) {
  char narrow[16];
  wchar_t wide[8];
  BOOL usedDefault = FALSE;
  EXPECT_EQ(WideCharToMultiByte(20273, 0, L"A\u200bB\ufeff", 4, narrow, 16, "*", &usedDefault), 4);
  EXPECT_EQ(std::string(narrow, 4), "\xc1*\xc2*");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(MultiByteToWideChar(50220, MB_USEGLYPHCHARS, "a", 1, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(WideCharToMultiByte(1252, 0x400, L"a", 1, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
  EXPECT_EQ(WideCharToMultiByte(65000, 0, L"a", 1, narrow, 8, nullptr, &usedDefault), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// MB_COMPOSITE splits letters with marks into base and mark, but keeps Hangul syllables whole,
// the first and last of them included (catches the syllables' range off by one at either end).
TEST(CodePageTest, CompositeSplitsMarkedLettersButNoHangulSyllable) {
  wchar_t wide[8];
  ASSERT_EQ(MultiByteToWideChar(1252, MB_COMPOSITE, "\xE9", 1, wide, 8), 2);
  EXPECT_EQ(std::wstring(wide, 2), L"e\u0301");
  ASSERT_EQ(MultiByteToWideChar(949, MB_COMPOSITE, "\xB0\xA1\xC6\x52", 4, wide, 8), 2);
  EXPECT_EQ(std::wstring(wide, 2), L"\uAC00\uD7A3");
}

// A lead byte before a NUL has nothing after it: the NUL is never taken as its trail byte, so a
// counted text keeps its NUL and what follows it.
TEST(CodePageTest, ALeadByteBeforeANulStandsAlone) {
  wchar_t wide[8] = {};
  for (UINT page : {932u, 936u, 949u, 950u}) {
    ASSERT_EQ(MultiByteToWideChar(page, 0, "\x81\0A", 3, wide, 8), 3) << page;
    EXPECT_EQ(wide[1], L'\0') << page;
    EXPECT_EQ(wide[2], L'A') << page;
    EXPECT_EQ(MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, "\x81\0A", 3, wide, 8), 0) << page;
  }
}

// The device's UTF-7 (as Wine gives it) encodes RFC 2152's optional direct characters ('!'),
// closes every run with '-' and writes '+' as "+-" even amid a run; it reads any byte outside
// a run as the character of that number, and drops the bits left over at a run's end.
TEST(CodePageTest, Utf7IsTheDevicesOwn) {
  char narrow[32];
  int n = WideCharToMultiByte(65000, 0, L"Hi!+\u00e9", 5, narrow, 32, nullptr, nullptr);
  EXPECT_EQ(std::string(narrow, static_cast<size_t>(n > 0 ? n : 0)), "Hi+ACE-+-+AOk-");
  wchar_t wide[16];
  n = MultiByteToWideChar(65000, 0, "Hi+ACEAKwDp-\xe9~+AOk+-", 20, wide, 16);
  EXPECT_EQ(std::wstring(wide, static_cast<size_t>(n > 0 ? n : 0)),
            L"Hi!+\u00e9\u00e9~\u00e9");
}

}  // namespace
