#include <cstring>
#include <memory>
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
  std::string logText() const { return ce::test::readFile(hostPath("fs/notlstnr.txt")); }
};

using Wide = std::unique_ptr<wchar_t[]>;
using Narrow = std::unique_ptr<char[]>;

std::string narrow(const wchar_t* text, const char* encoding = nullptr) {
  Narrow out(toMultibyte(text, encoding));
  return out ? std::string(out.get()) : std::string("<null>");
}

std::wstring wide(const char* text, const char* encoding = nullptr) {
  Wide out(toWideChar(text, encoding));
  return out ? std::wstring(out.get()) : std::wstring(L"<null>");
}

// Drops the "hh:mm:ss GMT +h:mm " stamps so that lines compare exactly.
std::string withoutStamps(const std::string& log) {
  std::string out;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    size_t tag = line.find(" [");
    if (tag != std::string::npos && line.find(" GMT ") == 8) line = line.substr(tag + 1);
    out += line + "\n";
    start = end + 1;
  }
  return out;
}

TEST_F(EncodingTest, CharsetTableIsSortedUniqueLowerCaseAndEnded) {
  int rows = 0;
  while (charsetTable[rows].name) ++rows;
  EXPECT_EQ(rows, 252);
  EXPECT_EQ(charsetTable[252].codePage, 0);
  for (int i = 0; i < rows; ++i) {
    for (const char* c = charsetTable[i].name; *c; ++c)
      EXPECT_FALSE(*c >= 'A' && *c <= 'Z') << charsetTable[i].name;
    EXPECT_GT(charsetTable[i].codePage, 0);
    if (i > 0) {
      EXPECT_LT(std::strcmp(charsetTable[i - 1].name, charsetTable[i].name), 0) << i;
    }
  }
  EXPECT_STREQ(charsetTable[0].name, "_iso-2022-jp");
  EXPECT_STREQ(charsetTable[251].name, "x-x-big5");
}

TEST_F(EncodingTest, CodePagesOfTheTrickyRowsAndUnknownNames) {
  struct { const char* name; int codePage; } rows[] = {
      {"latin1", 1252},        {"l1", 28591},           {"csiso", 28591},
      {"iso-8859-1", 1252},    {"ascii", 1252},         {"us-ascii", 1252},
      {"cp500", 775},          {"x-ebcdic-france", 1143},
      {"iso-8859-8", 1255},    {"iso_8859-8", 28598},   {"iso-8859-8-i", 38598},
      {"iso_8859-8-i", 1255},  {"iso-2022-jp", 50222},  {"_iso-2022-jp", 50221},
      {"csiso2022jp", 50221},  {"_iso-2022-jp$sio", 50222},
      {"latin5", 1254},        {"iso-8859-9", 1254},    {"l5", 28599},
      {"koi8-r", 20866},       {"shift_jis", 932},      {"iso_646.irv:1991", 1252},
      {"utf-8", 65001},        {"UTF-8", 65001},        {"uTf-8", 65001},
      {"ISO-8859-2", 28592},   {"X-X-BIG5", 950},       {"", 65001},
      {nullptr, 65001},        {"utf-8 ", 65001},       {"utf", 65001},
  };
  for (const auto& row : rows)
    EXPECT_EQ(getCodePage(row.name), row.codePage) << (row.name ? row.name : "null");
  EXPECT_EQ(withoutStamps(logText()),
            "[ERROR] - Invalid encoding: utf-8 \n"
            "[ERROR] - Invalid encoding: utf\n");

  EXPECT_EQ(getCodePage("bogus"), 65001);
  EXPECT_NE(logText().find("[ERROR] - Invalid encoding: bogus\n"), std::string::npos);
}

TEST_F(EncodingTest, NonAsciiTextSurvivesUtf8AndWideRoundTrips) {
  struct { const char* utf8; const wchar_t* wide; } rows[] = {
      {"Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e", L"Cr\u00e8me br\u00fbl\u00e9e"},
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", L"\u65e5\u672c\u8a9e"},
      {"\xF0\x9F\x98\x80 ok", L"\U0001F600 ok"},
      {"\\My Documents\\Notes\\memo.pwi", L"\\My Documents\\Notes\\memo.pwi"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(wide(row.utf8), row.wide);
    EXPECT_EQ(wide(row.utf8, "UTF-8"), row.wide);
    EXPECT_EQ(narrow(row.wide), row.utf8);
    EXPECT_EQ(multibyteSize(row.wide, 65001), static_cast<int>(std::strlen(row.utf8)));
  }
  EXPECT_EQ(logText(), "");
}

TEST_F(EncodingTest, SingleAndDoubleByteCodePagesByName) {
  struct { const char* encoding; const char* bytes; const wchar_t* text; } rows[] = {
      {"windows-1252", "caf\xE9 \x80", L"caf\u00e9 \u20ac"},
      {"koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", L"\u041f\u0440\u0438\u0432\u0435\u0442"},
      {"shift_jis", "\x93\xFA\x96\x7B", L"\u65e5\u672c"},
      {"iso-8859-2", "\xB1", L"\u0105"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(wide(row.bytes, row.encoding), row.text) << row.encoding;
    EXPECT_EQ(narrow(row.text, row.encoding), row.bytes) << row.encoding;
  }
  // what the code page cannot hold is replaced, not refused
  EXPECT_EQ(narrow(L"\u65e5x", "windows-1252"), "?x");
  EXPECT_EQ(logText(), "");

  // an unknown name is reported and UTF-8 is used
  EXPECT_EQ(wide("\xC3\xA9", "bogus"), L"\u00e9");
  EXPECT_EQ(narrow(L"\u00e9", "bogus"), "\xC3\xA9");
  EXPECT_EQ(withoutStamps(logText()),
            "[ERROR] - Invalid encoding: bogus\n[ERROR] - Invalid encoding: bogus\n");
}

TEST_F(EncodingTest, CodePagesThePlatformLacksFailOrFallBackWithTheirLines) {
  // 10001 is in the table but not in the platform: widening retries in UTF-8
  EXPECT_EQ(wide("abc", "x-mac-japanese"), L"abc");
  EXPECT_EQ(narrow(L"abc", "x-mac-japanese"), "<null>");
  EXPECT_EQ(multibyteSize(L"abc", 10001), -1);
  EXPECT_EQ(withoutStamps(logText()),
            "[ERROR] - toWideChar: error 87 \n"
            "\tConverting: abc\n"
            "\tWith encoding x-mac-japanese\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toMultibyte: invalid encoding\n");
}

TEST_F(EncodingTest, InvalidUtf8TakesTheRetryPathAndGivesNull) {
  // Bad bytes at the start, the middle and cut short at the very end: ASan watches the
  // n + 2 characters of the buffer.
  const char* texts[] = {"\xFF", "ab\xFE\xFF" "cd", "abc\xE2\x82", "\xC3"};
  for (const char* text : texts) EXPECT_EQ(wide(text), L"<null>");
  std::string log = withoutStamps(logText());
  EXPECT_NE(log.find("[ERROR] - toWideChar: error 1113 \n"
                     "\tConverting: abc\xE2\x82\n"
                     "\tWith encoding (null)\n"
                     "[ERROR] - toWideChar: try to use default codepage.\n"
                     "[ERROR] - toWideChar: error 1113 converting the string using default "
                     "codepage.\n"),
            std::string::npos)
      << log;
  size_t lines = 0;
  for (char c : log) lines += c == '\n';
  EXPECT_EQ(lines, 4u * 5u);
}

TEST_F(EncodingTest, EmptyAndNullTextsNeedNoLookup) {
  EXPECT_EQ(toWideChar(nullptr, "bogus"), nullptr);
  EXPECT_EQ(toMultibyte(nullptr, "bogus"), nullptr);
  EXPECT_EQ(wide("", "bogus"), L"");
  EXPECT_EQ(narrow(L"", "bogus"), "");
  EXPECT_EQ(multibyteSize(nullptr, 65001), 0);
  EXPECT_EQ(multibyteSize(L"", 65001), 0);
  EXPECT_EQ(logText(), "");
}

TEST_F(EncodingTest, DuplicateAndCaseInsensitiveEquality) {
  Narrow ab(duplicateString("abc", 2));
  EXPECT_STREQ(ab.get(), "ab");
  Narrow whole(duplicateString("abc"));
  EXPECT_STREQ(whole.get(), "abc");
  Narrow padded(duplicateString("ab", 5));
  EXPECT_EQ(std::string(padded.get(), 6), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(duplicateString(nullptr, 3), nullptr);
  EXPECT_EQ(duplicateString("abc", -2), nullptr);
  Narrow none(duplicateString("abc", 0));
  EXPECT_STREQ(none.get(), "");

  EXPECT_TRUE(textEqualsIgnoreCase("Notes", "NOTES"));
  EXPECT_FALSE(textEqualsIgnoreCase("Note", "Notes"));
  EXPECT_FALSE(textEqualsIgnoreCase(nullptr, "a"));
  EXPECT_FALSE(textEqualsIgnoreCase("a", nullptr));
  EXPECT_FALSE(textEqualsIgnoreCase(nullptr, nullptr));
  EXPECT_TRUE(textEqualsIgnoreCase("", ""));
  EXPECT_TRUE(textEqualsIgnoreCase("a1-Z@[", "A1-z@["));
  EXPECT_FALSE(textEqualsIgnoreCase("@", "`"));  // neighbours of the letters stay apart
  EXPECT_FALSE(textEqualsIgnoreCase("[", "{"));
  EXPECT_FALSE(textEqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));  // no case beyond ASCII
  EXPECT_TRUE(textEqualsIgnoreCase("\xC3\xA9", "\xC3\xA9"));

  StringBuffer notes("Notes");
  EXPECT_TRUE(notes.equalsIgnoreCase("nOTES"));
  EXPECT_FALSE(notes.equalsIgnoreCase(nullptr));
  EXPECT_FALSE(StringBuffer().equalsIgnoreCase(nullptr));
}

TEST_F(EncodingTest, ExtensionsCompareAfterTheLastDot) {
  struct { const char* name; const char* extension; bool ignoringCase; bool exactly; } rows[] = {
      {"photo.backup.JPG", "jpg", true, false},
      {"photo.jpg", "jpg", true, true},
      {"photo.", "jpg", false, false},
      {"photo.", "", true, true},
      {"photo", "jpg", false, false},
      {".jpg", "jpg", true, true},
      {"a.jpeg", "jpg", false, false},
      {"a.jpg.tmp", "jpg", false, false},
      {"", "jpg", false, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(extensionMatches(row.name, row.extension, true), row.ignoringCase) << row.name;
    EXPECT_EQ(extensionMatches(row.name, row.extension, false), row.exactly) << row.name;
  }
  EXPECT_FALSE(extensionMatches(StringBuffer(), "jpg", true));

  EXPECT_TRUE(wideExtensionMatches(L"\\My Documents\\Notes\\memo.PWI", L"pwi", true));
  EXPECT_TRUE(wideExtensionMatches(L"\u65e5\u672c.\u00e9t\u00e9", L"\u00e9t\u00e9", true));
  EXPECT_FALSE(wideExtensionMatches(L"a.\u00c9T\u00c9", L"\u00e9t\u00e9", true));
  EXPECT_FALSE(wideExtensionMatches(nullptr, L"pwi", true));
  EXPECT_FALSE(wideExtensionMatches(L"a.pwi", nullptr, true));

  StringBuffer converted;
  converted.assign(L"\u00e9t\u00e9", nullptr);
  EXPECT_TRUE(converted == "\xC3\xA9t\xC3\xA9");
  converted.assign(L"abc", "x-mac-japanese");  // the platform cannot: the value becomes null
  EXPECT_EQ(converted.c_str(), nullptr);
  converted.assign(static_cast<const wchar_t*>(nullptr), nullptr);
  EXPECT_EQ(converted.c_str(), nullptr);
  converted.assign(L"", nullptr);
  EXPECT_TRUE(converted == "");
}

}  // namespace
