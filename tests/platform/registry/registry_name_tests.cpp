// How names compare and sort: the device's upper-casing, one 16-bit character at a time.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/registry/key_names.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using ce::registry::comparisonKey;
using ce::test::createKey;

TEST(ComparisonKeyTest, EqualWhereTheDeviceUpperCasesAndNowhereElse) {
  const struct {
    std::wstring a, b;
  } same[] = {
      {L"clientPushList", L"CLIENTPUSHLIST"},
      {L"\u00e4rger", L"\u00c4RGER"},
      {L"\u00ff", L"\u0178"},        // ÿ Ÿ: across blocks
      {L"\u01c6", L"\u01c4"},        // ǆ Ǆ
      {L"\u03c3", L"\u03a3"},        // σ Σ
      {L"\uff41", L"\uff21"},        // fullwidth a A
      {L"\u10d0", L"\u1c90"},        // Georgian
      {L"\uab70", L"\u13a0"},        // Cherokee
      {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, L"\U0001F600"},  // a pair is its char
  };
  for (const auto& pair : same)
    EXPECT_EQ(comparisonKey(pair.a), comparisonKey(pair.b)) << "equal: " << pair.a.size();
  // Simple mappings that do not map back, which folding would merge, stay apart.
  const struct {
    std::wstring a, b;
  } apart[] = {
      {L"\u00df", L"\u1e9e"},        // ß ẞ
      {L"\u0131", L"I"},             // ı I
      {L"\u0130", L"i"},             // İ i
      {L"\u212a", L"k"},             // Kelvin k
      {L"\u017f", L"s"},             // ſ s
      {L"\u03c2", L"\u03c3"},        // ς σ
      {L"\u00b5", L"\u03bc"},        // µ μ
      {L"\u01c5", L"\u01c6"},        // ǅ ǆ
      {L"\U00010428", L"\U00010400"},  // Deseret: beyond the BMP, never upper-cased
  };
  for (const auto& pair : apart)
    EXPECT_NE(comparisonKey(pair.a), comparisonKey(pair.b)) << "apart: " << int(pair.a[0]);
}

// Sorted as the device sorts: by upper-cased 16-bit characters, so "_" comes after the
// letters, and a character beyond the BMP (a surrogate pair) before U+E000.
TEST(ComparisonKeyTest, BytesSortAsTheDeviceSortsNames) {
  std::vector<std::wstring> names = {L"~",      L"_",      L"b",      L"\uE000", L"A",
                                     L"[",      L"a1",     L"\U0001F600", L"B2", L"\u00e4",
                                     L"Z",      L"\uFF21", L"a"};
  std::sort(names.begin(), names.end(), [](const std::wstring& x, const std::wstring& y) {
    return comparisonKey(x) < comparisonKey(y);
  });
  const std::vector<std::wstring> expected = {L"A",  L"a",      L"a1",          L"b",
                                              L"B2", L"Z",      L"[",           L"_",
                                              L"~",  L"\u00e4", L"\U0001F600", L"\uE000",
                                              L"\uFF21"};
  std::vector<std::wstring> sameA(names.begin(), names.begin() + 2);
  // "A" and "a" are one name: their order between themselves is not the point.
  std::sort(sameA.begin(), sameA.end());
  std::copy(sameA.begin(), sameA.end(), names.begin());
  EXPECT_EQ(names, expected);
}

// Names come back from the store's UTF-8: a lone surrogate in the three bytes we write for it,
// and bytes a hand edit left that are not UTF-8 one by one as U+DC80..U+DCFF, never lost.
TEST(StoredNameTest, ReadsOurSurrogatesAndKeepsBadBytesApart) {
  using ce::registry::wideNameOf;
  EXPECT_EQ(wideNameOf("Caf\xc3\xa9"), L"Caf\u00e9");
  EXPECT_EQ(wideNameOf("\xf0\x9f\x98\x80"), std::wstring(1, wchar_t(0x1F600)));
  EXPECT_EQ(wideNameOf("\xed\xa0\x80x"), (std::wstring{wchar_t(0xD800), L'x'}));
  EXPECT_EQ(wideNameOf("a\xff" "b"), (std::wstring{L'a', wchar_t(0xDCFF), L'b'}));
  EXPECT_EQ(wideNameOf("\xc0\x80"), (std::wstring{wchar_t(0xDCC0), wchar_t(0xDC80)}));  // overlong
  EXPECT_EQ(wideNameOf("\xe2\x82"), (std::wstring{wchar_t(0xDCE2), wchar_t(0xDC82)}));  // cut short
  EXPECT_EQ(wideNameOf("\xf4\x90\x80\x80").size(), 4u);  // past U+10FFFF
}

using NameCaseTest = ce::test::DeviceTest;

TEST_F(NameCaseTest, NamesEqualUpperCasedAreOneNameAndKeepTheirFirstSpelling) {
  HKEY key = createKey(L"Software\\\u00c4rger\\\u03a9mega");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(ce::test::setString(key, L"Gr\u00d6\u00dfe", L"1"), ERROR_SUCCESS);
  DWORD disposition = 0;
  HKEY same = createKey(L"software\\\u00e4RGER\\\u03c9MEGA", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(ce::test::getString(same, L"gr\u00f6\u00dfE"), L"1");
  EXPECT_EQ(ce::test::setString(same, L"GR\u00d6\u00dfE", L"2"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(key, L"gr\u00f6\u00dfe"), L"2");
  WCHAR name[16];
  DWORD chars = 16;
  ASSERT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name), L"Gr\u00d6\u00dfe");

  // ß and ẞ are two names, so are two keys.
  DWORD made = 0;
  RegCloseKey(createKey(L"Software\\Stra\u00dfe", &made));
  RegCloseKey(createKey(L"Software\\STRA\u1e9eE", &made));
  EXPECT_EQ(made, static_cast<DWORD>(REG_CREATED_NEW_KEY));

  // A subtree is deleted by any spelling, and its neighbours stay.
  RegCloseKey(createKey(L"Software\\\u00c4rger2"));
  RegCloseKey(createKey(L"Software\\\u00c4rger]"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\\u00e4rger"), ERROR_SUCCESS);
  EXPECT_FALSE(ce::test::keyExists(L"Software\\\u00c4rger\\\u03a9mega"));
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")),
            L"Stra\u00dfe,STRA\u1e9eE,\u00c4rger2,\u00c4rger]");
}

TEST_F(NameCaseTest, SubkeysEnumerateInTheDevicesOrderAndValuesInCreationOrder) {
  HKEY key = createKey(L"Software\\Order");
  for (const wchar_t* name : {L"b", L"_", L"A", L"\u00e4", L"a1"}) {
    RegCloseKey(createKey((std::wstring(L"Software\\Order\\") + name).c_str()));
    ce::test::setString(key, name, L"x");
  }
  EXPECT_EQ(ce::test::subkeysOf(key), L"A,a1,b,_,\u00e4");
  std::wstring values;
  for (DWORD i = 0;; ++i) {
    WCHAR name[8];
    DWORD chars = 8;
    if (RegEnumValueW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr)) break;
    values += (i ? L"," : L"") + std::wstring(name);
  }
  EXPECT_EQ(values, L"b,_,A,\u00e4,a1");
}

// A lone surrogate is a character of the device's text like any other.
TEST_F(NameCaseTest, LoneSurrogatesAreKeptInNames) {
  const std::wstring lone = {L'x', wchar_t(0xDC00)};
  HKEY key = createKey((L"Software\\" + lone).c_str());
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(ce::test::setString(key, lone.c_str(), L"v"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")), lone);
  EXPECT_EQ(ce::test::getString(key, (L"X" + lone.substr(1)).c_str()), L"v");
}

}  // namespace
