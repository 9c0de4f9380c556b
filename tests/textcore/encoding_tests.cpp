#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "config/string_buffer.h"
#include "encoding/conversions.h"
#include "log/log.h"
#include "tests/support/device_test.h"

namespace {

class EncodingTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sharedLog()->setDirectory("");
    sharedLog()->setFileName("notlstnr.txt");
  }
  // the log without its time stamps
  std::string logLines() const {
    std::string log = ce::test::readFile(hostPath("fs/notlstnr.txt"));
    return std::regex_replace(log, std::regex(R"(\d\d:\d\d:\d\d GMT [+-]\d+:\d\d )"), "");
  }
};

std::string narrow(const wchar_t* text, const char* encoding = nullptr) {
  std::unique_ptr<char[]> out(toMultibyte(text, encoding));
  return out ? std::string(out.get()) : std::string("<null>");
}

std::wstring wide(const char* text, const char* encoding = nullptr) {
  std::unique_ptr<wchar_t[]> out(toWideChar(text, encoding));
  return out ? std::wstring(out.get()) : std::wstring(L"<null>");
}

TEST_F(EncodingTest, CharsetNamesMatchWholeIgnoringCaseAndGiveTheDevicesCodePages) {
  // Only the asked name is folded, so a row with a capital would never match; nor may a name
  // appear twice.
  for (int row = 0; charsetTable[row].name; ++row) {
    for (const char* c = charsetTable[row].name; *c; ++c) EXPECT_FALSE(*c >= 'A' && *c <= 'Z');
    EXPECT_TRUE(row == 0 || std::strcmp(charsetTable[row - 1].name, charsetTable[row].name) < 0)
        << charsetTable[row].name;
  }
  struct { const char* name; int codePage; } names[] = {
      {"latin1", 1252},           {"l1", 28591},          {"csiso", 28591},
      {"iso-8859-8", 1255},       {"iso-8859-8-i", 38598}, {"iso_8859-8-i", 1255},
      {"_iso-2022-jp$sio", 50222}, {"csiso2022jp", 50221}, {"uTf-8", 65001},
      {"ISO-8859-2", 28592},      {"", 65001},            {nullptr, 65001},
      {"bogus", 65001},
  };
  for (const auto& row : names)
    EXPECT_EQ(getCodePage(row.name), row.codePage) << (row.name ? row.name : "null");
  EXPECT_EQ(logLines(), "[ERROR] - Invalid encoding: bogus\n");
}

TEST_F(EncodingTest, TextRoundTripsByCodePage) {
  struct { const char* encoding; const char* bytes; const wchar_t* text; } rows[] = {
      {nullptr, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\u65e5\u672c\u8a9e"},
      {"UTF-8", "\xF0\x9F\x98\x80 ok", L"\U0001F600 ok"},
      {"windows-1252", "caf\xE9 \x80", L"caf\u00e9 \u20ac"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(wide(row.bytes, row.encoding), row.text);
    EXPECT_EQ(narrow(row.text, row.encoding), row.bytes);
  }
  EXPECT_EQ(multibyteSize(L"\U0001F600", 65001), 4);
  EXPECT_EQ(narrow(L"\u65e5x", "windows-1252"), "?x");  // replaced, not refused

  // empty and null texts: no lookup of the name, nothing logged
  EXPECT_EQ(wide("", "bogus"), L"");
  EXPECT_EQ(narrow(L"", "bogus"), "");
  EXPECT_EQ(toWideChar(nullptr), nullptr);
  EXPECT_EQ(toMultibyte(nullptr), nullptr);
  EXPECT_EQ(logLines(), "");
}

TEST_F(EncodingTest, FailedConversionsRetryInUtf8AndSayWhy) {
  // 10001 is in the table but not in the platform
  EXPECT_EQ(wide("abc", "x-mac-japanese"), L"abc");
  EXPECT_EQ(narrow(L"abc", "x-mac-japanese"), "<null>");
  // bad bytes, and a character cut short at the very end of the n + 2 buffer (ASan)
  EXPECT_EQ(wide("ab\xFE\xFF" "cd"), L"<null>");
  EXPECT_EQ(wide("abc\xE2\x82"), L"<null>");
  EXPECT_EQ(logLines(),
            "[ERROR] - toWideChar: error 87 \n\tConverting: abc\n\tWith encoding x-mac-japanese\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toMultibyte: invalid encoding\n"
            "[ERROR] - toWideChar: error 1113 \n\tConverting: ab\xFE\xFF" "cd\n"
            "\tWith encoding (null)\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toWideChar: error 1113 converting the string using default codepage.\n"
            "[ERROR] - toWideChar: error 1113 \n\tConverting: abc\xE2\x82\n"
            "\tWith encoding (null)\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toWideChar: error 1113 converting the string using default codepage.\n");
  StringBuffer converted("old");
  converted.assign(L"abc", "x-mac-japanese");  // a failed conversion gives the null value
  EXPECT_EQ(converted.c_str(), nullptr);
}

TEST_F(EncodingTest, CopiesAndCaseFolding) {
  std::unique_ptr<char[]> ab(duplicateString("abc", 2)), padded(duplicateString("ab", 4));
  EXPECT_STREQ(ab.get(), "ab");
  EXPECT_EQ(std::string(padded.get(), 5), std::string("ab\0\0\0", 5));
  EXPECT_EQ(duplicateString(nullptr), nullptr);
  EXPECT_EQ(duplicateString("abc", -2), nullptr);

  EXPECT_TRUE(textEqualsIgnoreCase("Notes", "NOTES"));
  EXPECT_FALSE(textEqualsIgnoreCase(nullptr, nullptr));
  EXPECT_FALSE(textEqualsIgnoreCase("@[", "`{"));              // neighbours of the letters
  EXPECT_FALSE(textEqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));  // no case beyond ASCII
}

}  // namespace
