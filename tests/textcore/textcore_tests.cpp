// The text core: charsets and conversions, the value types, and the log.
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <regex>
#include <string>

#include "textcore/code_points.h"
#include "textcore/element_list.h"
#include "textcore/string_buffer.h"
#include "textcore/conversions.h"
#include "textcore/log.h"
#include "textcore/win_log.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

// The log as the listener configures it at start-up, \notlstnr.txt, on a frozen clock one hour
// east of UTC.
class TextCoreTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ce::testing::freezeLocalTime(SYSTEMTIME{2010, 3, 0, 7, 14, 5, 9, 250});
    ce::testing::setTimeZoneBias(-60);
    log = sharedLog();
    log->setDirectory("");
    log->setFileName("notlstnr.txt");
  }
  std::string logText() const { return ce::test::readFile(hostPath("fs/notlstnr.txt")); }
  // the log without its time stamps
  std::string logLines() const {
    return std::regex_replace(logText(), std::regex(R"(14:05:09 GMT \+1:00 )"), "");
  }
  void removeLog() const { std::filesystem::remove(hostPath("fs/notlstnr.txt")); }

  Log* log = nullptr;
};
using EncodingTest = TextCoreTest;

std::string narrow(const wchar_t* text, const char* encoding = nullptr) {
  std::unique_ptr<char[]> out(toMultibyte(text, encoding));
  return out ? std::string(out.get()) : std::string("<null>");
}

std::wstring wide(const char* text, const char* encoding = nullptr) {
  std::unique_ptr<wchar_t[]> out(toWideChar(text, encoding));
  return out ? std::wstring(out.get()) : std::wstring(L"<null>");
}

TEST_F(EncodingTest, CharsetNamesMatchWholeIgnoringCaseAndGiveTheDevicesCodePages) {
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

// Only the asked name is folded, so a row with a capital would never match; nor may a name
// appear twice. A name that spells a code-page number ("windows-1251", "x-cp1250", "ibm850",
// "dos-862") stands for that number, read from the name itself; the only exceptions are the IBM
// numbers the device's table gives to other pages on purpose (docs/code-pages.md).
TEST_F(EncodingTest, TableNamesAreLowerCaseUniqueAndThoseCarryingANumberMapToIt) {
  const std::regex numbered(R"(^(?:windows-|x-cp|cp|ibm|codepage|dos-)(\d+)$)");
  struct { const char* name; int codePage; } departures[] = {
      {"cp367", 1252}, {"ibm367", 1252}, {"cp819", 1252}, {"ibm819", 1252}, {"cp500", 775}};
  int numberedNames = 0;
  for (int row = 0; charsetTable[row].name; ++row) {
    for (const char* c = charsetTable[row].name; *c; ++c) EXPECT_FALSE(*c >= 'A' && *c <= 'Z');
    EXPECT_TRUE(row == 0 || std::strcmp(charsetTable[row - 1].name, charsetTable[row].name) < 0)
        << charsetTable[row].name;
    std::cmatch match;
    if (!std::regex_match(charsetTable[row].name, match, numbered)) continue;
    ++numberedNames;
    int expected = std::stoi(match[1].str());
    for (const auto& departure : departures)
      if (std::strcmp(departure.name, charsetTable[row].name) == 0) expected = departure.codePage;
    EXPECT_EQ(getCodePage(charsetTable[row].name), expected) << charsetTable[row].name;
  }
  // the 36 names of that form today: a pattern that matched nothing would prove nothing
  EXPECT_EQ(numberedNames, 36);
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
  EXPECT_EQ(narrow(L"\u0100\u200b", "windows-1252"), "A?");  // best fit; nothing dropped

  // empty and null texts: no lookup of the name, nothing logged
  EXPECT_EQ(wide("", "bogus"), L"");
  EXPECT_EQ(narrow(L"", "bogus"), "");
  EXPECT_EQ(toWideChar(nullptr), nullptr);
  EXPECT_EQ(toMultibyte(nullptr), nullptr);
  EXPECT_EQ(logLines(), "");
}

TEST_F(EncodingTest, FailedConversionsRetryInUtf8AndSayWhy) {
  // 29001 is in the table but in neither platform (desktop Windows has 10001, the device not)
  EXPECT_EQ(wide("abc", "x-europa"), L"abc");
  EXPECT_EQ(narrow(L"abc", "x-europa"), "<null>");
  // The platform would replace invalid bytes with flags 0; toWideChar still refuses them, so
  // its callers keep what they had: a character cut short at the very end of the n + 2 buffer
  // (ASan), and a byte that stands for private use in 1253. 1252's 0x81 is U+0081 in the
  // vendor's table, a character like any other.
  EXPECT_EQ(wide("abc\xE2\x82"), L"<null>");
  EXPECT_EQ(wide("\xAA", "windows-1253"), L"<null>");
  EXPECT_EQ(wide("\x81\xFF", "windows-1252"), L"\u0081\u00FF");
  EXPECT_EQ(logLines(),
            "[ERROR] - toWideChar: error 87 \n\tConverting: abc\n\tWith encoding x-europa\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toMultibyte: invalid encoding\n"
            "[ERROR] - toWideChar: error 1113 \n\tConverting: abc\xE2\x82\n"
            "\tWith encoding (null)\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toWideChar: error 1113 converting the string using default codepage.\n"
            "[ERROR] - toWideChar: error 1113 \n\tConverting: \xAA\n\tWith encoding windows-1253\n"
            "[ERROR] - toWideChar: try to use default codepage.\n"
            "[ERROR] - toWideChar: error 1113 converting the string using default codepage.\n");
  StringBuffer converted("old");
  converted.assign(L"abc", "x-europa");  // a failed conversion gives the null value
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

  // a wide argument the formatter cannot encode is an error (glibc) or replaced (Windows' C
  // library), never an endless doubling
  const wchar_t lone[] = {static_cast<wchar_t>(0xD800), 0};
  path.sprintf("%ls", lone);
  EXPECT_TRUE(path.c_str() == nullptr || std::strlen(path.c_str()) <= 4);
  // (given an argument: Debian's -Werror=format-security refuses a lone non-literal format)
  const char* noFormat = nullptr;
  b.sprintf(noFormat, 0);
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

using LogTest = TextCoreTest;

TEST_F(LogTest, LevelsDecideTheKindsAndStampsCarryTheStandardOffset) {
  EXPECT_EQ(log->getLevel(), LogInfo);
  const char* const written[] = {"e", "e", "eia", "eiad", "eiad"};
  const int levels[] = {-1, LogErrors, LogInfo, LogDebug, 7};
  for (int i = 0; i < 5; ++i) {
    removeLog();
    log->setLevel(levels[i]);
    log->error("e");
    log->info("i");
    log->debugAtInfo("a");
    log->debug("d");
    std::string expected;
    for (const char* kind = written[i]; *kind; ++kind) {
      const char* tag = *kind == 'e' ? "ERROR" : *kind == 'i' ? "INFO" : "DEBUG";
      expected += std::string("14:05:09 GMT +1:00 [") + tag + "] - " + *kind + "\n";
    }
    EXPECT_EQ(logText(), expected) << "level " << levels[i];
  }

  removeLog();
  struct { LONG bias; const char* offset; } rows[] = {{0, "+0:00"}, {-330, "+5:30"}, {45, "-0:45"}};
  std::string expected;
  for (const auto& row : rows) {
    ce::testing::setTimeZoneBias(row.bias);
    log->error("bias");
    expected += std::string("14:05:09 GMT ") + row.offset + " [ERROR] - bias\n";
  }
  EXPECT_EQ(logText(), expected);
}

TEST_F(LogTest, EachMessageIsOneLineWithItsArgumentsAndLeavesNoFileOpen) {
  log->info("CP: Item is %lu, %x", 4294967295ul, 255u);
  int descriptors = ce::test::openHandles();
  log->info("CP note: %S in %s", L"m\u00e9mo \u65e5.pwi", "\\My Documents");
  log->info("ends in its own break\n");
  const char* noFormat = nullptr;
  log->error(noFormat, 0);  // (an argument, for Debian's -Werror=format-security)
  std::string big(10000, 'b');
  log->error("%s", big.c_str());
  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - CP: Item is 4294967295, ff\n"
            "14:05:09 GMT +1:00 [INFO] - CP note: m\xC3\xA9mo \xE6\x97\xA5.pwi in \\My Documents\n"
            "14:05:09 GMT +1:00 [INFO] - ends in its own break\n\n"
            "14:05:09 GMT +1:00 [ERROR] - (null)\n"
            "14:05:09 GMT +1:00 [ERROR] - " + big + "\n");
  EXPECT_EQ(ce::test::openHandles(), descriptors);
  SetLastError(1234);  // the caller's last error survives a log call
  log->info("x");
  EXPECT_EQ(GetLastError(), 1234u);
}

// A text handed to the log cannot start a line of its own, whoever chose it (a file name);
// the format's own text stays as written, and numbers print as printf prints them.
TEST_F(LogTest, ControlCharactersInTheTextsGivenAreEscaped) {
  log->info("CP note:  The %S file is not a note: break",
            L"\\Notes\\x\n12:00:00 GMT +0:00 [ERROR] - forged");
  // A unit no text may hold: beyond U+10FFFF where wchar_t has 32 bits, a lone high surrogate
  // where it has 16.
  const std::wstring notACharacter(
      1, static_cast<wchar_t>(sizeof(wchar_t) == 2 ? 0xD800u : 0x110000u));
  const std::wstring wide = L"\u0085 bad \xdce9 " + notACharacter + L" \U0001F600";
  log->info("%s|%c|%-4s|%.3s|%3s|%ls|%lc", "a\r\tb\x1b\x7f \xC2\x85 caf\xC3\xA9", '\n', "ab",
            "abcdef", "a\n", wide.c_str(), static_cast<wint_t>(L'\x01'));
  log->error("%05d|%-3x|%+.2f|%lld|%zu|%hhu|%o|%*d|%.*s|%%", -42, 255u, 1.5, -1ll, size_t{7},
             257u, 8u, 3, 1, 2, "xyz");
  // A wide text's precision counts the bytes written, whole characters only, exactly to it.
  log->info("%.5ls|%.4ls|%.2ls|%.0ls", L"caf\u00e9x", L"caf\u00e9x", L"ab", L"a");
  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - CP note:  The \\Notes\\x\\n12:00:00 GMT +0:00 [ERROR] - "
            "forged file is not a note: break\n"
            "14:05:09 GMT +1:00 [INFO] - a\\r\\tb\\x1b\\x7f \\u0085 caf\xC3\xA9|\\n|ab  |abc|a\\n|"
            "\\u0085 bad \xEF\xBF\xBD \xEF\xBF\xBD \xF0\x9F\x98\x80|\\x01\n"
            "14:05:09 GMT +1:00 [ERROR] - -0042|ff |+1.50|-1|7|1|10|  1|xy|%\n"
            "14:05:09 GMT +1:00 [INFO] - caf\xC3\xA9|caf|ab|\n");
}

// A character beyond U+FFFF is one character whatever the width of wchar_t: given as its
// literal (a surrogate pair where wchar_t is 16-bit, one unit where it is 32-bit) and as an
// explicit pair, it prints whole and is never cut by a precision; only a lone half is U+FFFD.
// %lc and %C read their argument as passed, a promoted wint_t (reading a 16-bit wint_t as
// itself is undefined, and GCC traps on it).
TEST_F(LogTest, SurrogatePairsAreOneCharacterAndWideCharacterArgumentsAreReadAsPassed) {
  const wchar_t pair[] = {0xD83D, 0xDE00, 0};
  const wchar_t lone[] = {L'a', 0xD83D, L'b', 0xDE00, 0xDE00, 0xD83D, 0};
  log->info("%ls|%S|%ls|%.4ls|%.3ls|%-5ls|", L"\U0001F600", pair, lone, pair, pair, pair);
  log->info("%lc%C%lc|%d", static_cast<wint_t>(0xE9), static_cast<wint_t>(L'x'),
            static_cast<wint_t>(0xD83D), 42);
  const std::string smiley = "\xF0\x9F\x98\x80", replaced = "\xEF\xBF\xBD";
  EXPECT_EQ(logLines(), "[INFO] - " + smiley + "|" + smiley + "|a" + replaced + "b" + replaced +
                            replaced + replaced + "|" + smiley + "||" + smiley + " |\n"
                            "[INFO] - \xC3\xA9x" + replaced + "|42\n");
}

// Only a high surrogate followed by a low one is a pair, up to the edges of both ranges; any
// other surrogate stands alone, and nothing outside the ranges is one.
TEST(CodePointTest, PairsAreAHighThenALowSurrogateToTheEdgesOfTheirRanges) {
  struct Row { wchar_t text[3]; uint32_t value; size_t units; };
  const Row rows[] = {
      {{0xD800, 0xDC00, 0}, 0x10000, 2},  {{0xDBFF, 0xDFFF, 0}, 0x10FFFF, 2},
      {{0xD7FF, 0xDC00, 0}, 0xD7FF, 1},   {{0xDC00, 0xD800, 0}, 0xDC00, 1},
      {{0xD800, 0xDBFF, 0}, 0xD800, 1},   {{0xDBFF, 0xE000, 0}, 0xDBFF, 1},
      {{0xD800, 0, 0}, 0xD800, 1},        {{0xE000, 0xDC00, 0}, 0xE000, 1},
  };
  for (const Row& row : rows) {
    const CodePoint character = codePointAt(row.text);
    EXPECT_EQ(character.value, row.value) << std::hex << row.value;
    EXPECT_EQ(character.units, row.units) << std::hex << row.value;
  }
  for (uint32_t code : {0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu}) EXPECT_TRUE(isSurrogate(code));
  for (uint32_t code : {0xD7FFu, 0xE000u}) EXPECT_FALSE(isSurrogate(code));
}

// Every line ends in "\n" alone, the header's too, on every platform: a log opened in text
// mode ends them in "\r\n" on Windows, which getFileSize, counting bytes, shows as well.
TEST_F(LogTest, LinesEndInALineFeedAloneAndTheSizeCountsTheirBytes) {
  log->reset(nullptr);
  log->info("one");
  log->info("two\n");
  const std::string expected =
      "2010-03-07 14:05:09 GMT +1:00 - # Quillbex Windows Mobile Client Log\n\n"
      "14:05:09 GMT +1:00 [INFO] - one\n"
      "14:05:09 GMT +1:00 [INFO] - two\n\n";
  EXPECT_EQ(logText(), expected);
  EXPECT_EQ(log->getFileSize(), static_cast<long>(expected.size()));
}

TEST_F(LogTest, UnwritableFilesDropMessagesAndNothingBreaks) {
  log->setDirectory("\\no such folder");
  log->error("lost");
  EXPECT_FALSE(std::filesystem::exists(hostPath("fs/no such folder")));
  log->setDirectory("\xFF");  // a path that is not UTF-8 cannot be opened
  log->error("lost as well");

  log->setDirectory("");
  std::filesystem::create_directories(hostPath("fs/notlstnr.txt"));  // a folder in the way
  log->error("lost too");
  std::filesystem::remove(hostPath("fs/notlstnr.txt"));
  ce::testing::setFailPoint("_wfopen", 0, ERROR_ACCESS_DENIED, 1);
  log->error("refused");
  ce::testing::setFailPoint("CreateMutexW", 0, ERROR_ACCESS_DENIED, 1);
  log->error("no mutex");
  log->error("written");
  EXPECT_EQ(logText(), "14:05:09 GMT +1:00 [ERROR] - written\n");

  // a log made with a directory it cannot write to says so in a message box, and completes
  ::testing::internal::CaptureStderr();
  winLog unwritable(false, "\\missing", "x.txt");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quillbex: Unable to write log file: \"\\missing\\x.txt\".\n"
            "Please check your user's permissions.\n");
  ::testing::internal::CaptureStderr();
  winLog tooLong(false, ("\\" + std::string(600, 'd')).c_str(), "x.txt");
  EXPECT_EQ(::testing::internal::GetCapturedStderr().size(), 10u + 511u + 1u);
}

// The file's named mutex, held by anyone (here this process), drops the message; another
// file's is no obstacle.
TEST_F(LogTest, HeldMutexDropsTheMessage) {
  HANDLE held = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  log->error("dropped while the mutex is held");
  log->setFileName("other.txt");
  log->error("another name is not excluded");
  log->setFileName("notlstnr.txt");
  CloseHandle(held);
  log->info("written after");
  EXPECT_EQ(logText(), "14:05:09 GMT +1:00 [INFO] - written after\n");
  EXPECT_EQ(ce::test::readFile(hostPath("fs/other.txt")),
            "14:05:09 GMT +1:00 [ERROR] - another name is not excluded\n");

  // Names alike for a long way are still two names: a writer of one never silences the other.
  std::string accented;
  for (int i = 0; i < 100; ++i) accented += "\xc3\xa9";
  std::wstring wideAccented(100, static_cast<wchar_t>(0xE9));
  HANDLE first = CreateMutexW(nullptr, TRUE, (wideAccented + L"1.txt").c_str());
  log->setFileName((accented + "2.txt").c_str());
  log->error("written beside a held name alike");
  CloseHandle(first);
  EXPECT_EQ(ce::test::readFile(hostPath("fs/" + accented + "2.txt")),
            "14:05:09 GMT +1:00 [ERROR] - written beside a held name alike\n");
}

// The mutex takes the file name cut to 127 characters, the device's limit: a writer of a name
// of 128 characters is excluded by a holder of its first 127, and a name of 127 is used whole.
// Catches a cut one character off either way.
TEST_F(LogTest, TheMutexNameIsTheFileNameCutTo127Characters) {
  const std::string name127(127, 'n');
  log->setFileName((name127 + "x").c_str());
  EXPECT_EQ(std::wstring(winLog::currentMutexName()), std::wstring(127, L'n'));
  HANDLE held = CreateMutexW(nullptr, TRUE, std::wstring(127, L'n').c_str());
  log->error("dropped while the cut name is held");
  CloseHandle(held);
  EXPECT_FALSE(std::filesystem::exists(hostPath("fs/" + name127 + "x")));
  log->setFileName(name127.c_str());
  EXPECT_EQ(std::wstring(winLog::currentMutexName()), std::wstring(127, L'n'));
}

}  // namespace
