#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "config/element_list.h"
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

using ValueTypesTest = ce::test::DeviceTest;

TEST_F(ValueTypesTest, NullEmptyAndTextStayApart) {
  StringBuffer null, empty(""), text("abc");
  EXPECT_EQ(null.c_str(), nullptr);
  EXPECT_EQ(empty.length(), 0u);
  EXPECT_TRUE(null.equals(nullptr) && !empty.equals(nullptr) && !null.equals(""));
  EXPECT_TRUE(StringBuffer("abc", 2) == "ab");
  std::unique_ptr<ArrayElement> clone(null.clone());
  EXPECT_EQ(static_cast<StringBuffer*>(clone.get())->c_str(), nullptr);

  // Texts that are the buffer's own, through a reallocation.
  StringBuffer b = text;
  b.assign(b.c_str() + 1);
  EXPECT_TRUE(b == "bc");
  StringBuffer n;
  n.append("xyz", 0);
  EXPECT_EQ(n.c_str(), nullptr);
  n.append("xy!", StringBuffer::npos);
  n.append(n.c_str());
  EXPECT_TRUE(n == "xy!xy!");

  EXPECT_FALSE(null.endsWith('/') || empty.endsWith('/'));
  EXPECT_TRUE(text.substr(3, 5) == "" && text.substr(4, 1) == "" && null.substr(0) == "");
  EXPECT_TRUE(text.substr(1) == "bc" && text.substr(0, 2) == "ab");
}

TEST_F(ValueTypesTest, FormattingGrowsToTheResult) {
  StringBuffer b;
  std::string big(1024 * 1024 + 17, 'm');
  b.sprintf("<%s>", big.c_str());
  EXPECT_EQ(std::string(b.c_str()), "<" + big + ">");
  b.sprintf("%d", 7);
  EXPECT_TRUE(b == "7");

  StringBuffer path("dir");  // an argument that is the buffer itself
  path.sprintf("%s\\%s", path.c_str(), std::string(300, 'z').c_str());
  EXPECT_EQ(std::string(path.c_str()), "dir\\" + std::string(300, 'z'));

  // a wide argument the formatter cannot encode is an error, not an endless doubling
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), 0};
  path.sprintf("%ls", lone);
  EXPECT_EQ(path.c_str(), nullptr);
  const char* noFormat = nullptr;
  b.sprintf(noFormat);
  EXPECT_EQ(b.c_str(), nullptr);
}

TEST_F(ValueTypesTest, FindRfindAndReplace) {
  EXPECT_EQ(StringBuffer("abc").find("b", 3), -1);
  EXPECT_EQ(StringBuffer("aaa").rfind("aa", 0), 1);
  EXPECT_EQ(StringBuffer("a.b.c").rfind(".", 4), -1);

  struct { const char* text; const char* from; const char* to; unsigned pos; int count;
           const char* result; } rows[] = {
      {"/a//b/", "/", "//", 0, 4, "//a////b//"},
      {"one--two--three", "--", "", 0, 2, "onetwothree"},
      {"abcabc", "abc", "x", 1, 1, "abcx"},
      {"abc", "", "x", 0, 0, "abc"},  // an empty pattern matches nothing, so this ends
  };
  for (const auto& row : rows) {
    StringBuffer b(row.text);
    EXPECT_EQ(b.replaceAll(row.from, row.to, row.pos), row.count) << row.text;
    EXPECT_TRUE(b == row.result) << b.c_str();
  }
  StringBuffer null;
  EXPECT_EQ(null.replace("a", "b", 0), -1);
  EXPECT_EQ(null.c_str(), nullptr);
}

// Counts live instances so that the test sees clones made and destroyed.
struct Tracked : ArrayElement {
  static int alive;
  int value;
  explicit Tracked(int v) : value(v) { ++alive; }
  Tracked(const Tracked& other) : ArrayElement(), value(other.value) { ++alive; }
  ~Tracked() override { --alive; }
  ArrayElement* clone() const override { return new Tracked(*this); }
};
int Tracked::alive = 0;

struct Uncloneable : ArrayElement {
  ArrayElement* clone() const override { return nullptr; }
};

std::string values(ElementList& list) {
  std::string out;
  for (ArrayElement* e = list.front(); e; e = list.next())
    out += std::to_string(static_cast<Tracked*>(e)->value);
  return out;
}

TEST_F(ValueTypesTest, ElementListOwnsClonesAndWrapsItsCursor) {
  {
    ElementList list;
    Tracked one(1);
    EXPECT_EQ(list.add(one), 0);
    EXPECT_EQ(list.add(Tracked(3)), 1);
    EXPECT_EQ(list.insertAt(1, Tracked(2)), 1);
    EXPECT_EQ(list.insertAt(99, Tracked(4)), 3);
    EXPECT_EQ(list.insertAt(0, Tracked(0)), 0);
    EXPECT_EQ(list.insertAt(0, Uncloneable()), -1);
    one.value = 9;  // the list holds its own copy
    EXPECT_EQ(values(list), "01234");
    EXPECT_EQ(list.get(5), nullptr);
    EXPECT_EQ(Tracked::alive, 6);

    // values() went past the end: the next next() starts over
    EXPECT_EQ(static_cast<Tracked*>(list.next())->value, 0);

    auto source = std::make_unique<ElementList>(list);
    ElementList copy(*source);
    source.reset();
    copy.add(one);
    EXPECT_EQ(values(copy), "012349");
    copy = list;
    EXPECT_EQ(values(copy), "01234");
    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.front(), nullptr);
  }
  EXPECT_EQ(Tracked::alive, 0);
}

}  // namespace
