// `cedevice reg`: values, and registry files in both forms (written by hand from the format's
// rules) with their round trips.
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/registry_transaction.h"
#include "tests/platform/child_processes.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/tool_run.h"

namespace {

// Runs `cedevice reg ...`; the tool works only on a home that already holds a device.
class RegToolTest : public ce::test::DeviceTest {
 protected:
  using Run = ce::test::ToolRun;
  void SetUp() override {
    DeviceTest::SetUp();
    ce::deviceHome();
  }
  Run reg(std::vector<std::string> args, const std::string& otherHome = "") {
    args.insert(args.begin(), "reg");
    return ce::test::runCedevice(otherHome.empty() ? home() : otherHome, args);
  }
  // An empty second device below this test's home.
  std::string otherDevice() {
    std::string other = home() + "/other-device";
    std::filesystem::create_directories(other + "/fs");
    std::filesystem::create_directories(other + "/system");
    return other;
  }
};

using RegCommandTest = RegToolTest;

TEST_F(RegCommandTest, ValuesAreSetReadListedAndDeleted) {
  const std::string node = "HKLM\\Software\\Quillbex\\SyncclientPIM";
  ASSERT_EQ(reg({"set", node, "clientPushList", "30"}).exitCode, 0);
  ASSERT_EQ(reg({"set", "Software\\Quillbex\\SyncclientPIM", "path", "\\Caf\xc3\xa9"}).exitCode, 0);
  const std::string longForm = "HKEY_LOCAL_MACHINE\\Software\\Quillbex\\SyncclientPIM";
  EXPECT_EQ(reg({"get", longForm, "clientPushList"}).out, "30\n");
  EXPECT_EQ(reg({"get", "hklm\\software\\quillbex\\syncclientpim\\"}).out,
            "clientPushList=30\npath=\\Caf\xc3\xa9\n");
  EXPECT_EQ(reg({"list", "HKLM"}).out, "Software\n");
  EXPECT_EQ(reg({"list", node}).out, "");

  // The tool and this process see one registry.
  HKEY key = ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM");
  EXPECT_EQ(ce::test::getString(key, L"clientPushList"), L"30");
  DWORD number = 7;
  RegSetValueExW(key, L"n", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
  ce::test::setString(key, L"lines", L"a\nb");

  EXPECT_EQ(reg({"get", "HKLM\\Software\\Nope"}).exitCode, 1);
  Run missing = reg({"get", node, "nope"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "cedevice: no value \"nope\" in HKEY_LOCAL_MACHINE\\Software\\Quillbex\\"
                         "SyncclientPIM\n");

  EXPECT_EQ(reg({"delete", node, "clientPushList"}).exitCode, 0);
  EXPECT_EQ(reg({"get", node}).out, "path=\\Caf\xc3\xa9\nn=7\nlines=a\\x0ab\n");  // escaped
  EXPECT_EQ(reg({"delete", "HKLM\\Software\\Quillbex"}).exitCode, 0);
  EXPECT_EQ(reg({"list", "HKLM\\Software"}).out, "");
  EXPECT_EQ(reg({"delete", "HKLM\\Software\\Quillbex"}).exitCode, 1);
  EXPECT_EQ(reg({"delete", "HKLM"}).exitCode, 1);
  EXPECT_TRUE(ce::test::keyExists(L"Software"));
}

TEST_F(RegCommandTest, BadUsageExitsTwoWithTheUsageLine) {
  // Keys our own validator refuses: another root, an empty name inside.
  const std::vector<std::vector<std::string>> bad = {{"get", "HKCU\\Software"},
                                                     {"list", "HKLM\\\\x"}};
  for (const auto& args : bad) {
    Run run = reg(args);
    EXPECT_EQ(run.exitCode, 2) << args[0];
    EXPECT_NE(run.err.find("Usage"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(ce::test::keyExists(L"HKCU"));
}

TEST_F(RegCommandTest, ExportThenImportIntoAnEmptyDeviceGivesTheSameRegistry) {
  HKEY key = ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM");
  ce::test::setString(key, L"path", L"\\Program Files\\\"Quoted\" Caf\u00e9");
  ce::test::setString(key, nullptr, L"default");
  ce::test::setString(key, L"lines", L"a\nb");
  DWORD number = 0x1e;
  RegSetValueExW(key, L"interval", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
  const BYTE bytes[] = {0x00, 0xff, 0x10};
  RegSetValueExW(key, L"bin", 0, REG_BINARY, bytes, sizeof bytes);
  RegSetValueExW(key, L"empty", 0, REG_BINARY, nullptr, 0);
  RegCloseKey(key);
  RegCloseKey(ce::test::createKey(L"Software\\Quillbex\\a/b]\\deep"));
  RegCloseKey(ce::test::createKey(L"Software\\Empty"));

  Run exported = reg({"export", "--regedit4"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  // Subkeys in the device's order (upper-cased names), values in the order they were made.
  const std::string expectedStart =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Empty]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]\\deep]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\SyncclientPIM]\r\n"
      "\"path\"=\"\\\\Program Files\\\\\\\"Quoted\\\" Caf\xe9\"\r\n"
      "@=\"default\"\r\n"
      "\"lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
      "\"interval\"=dword:0000001e\r\n\"bin\"=hex:00,ff,10\r\n"
      "\"empty\"=hex:\r\n\r\n";
  EXPECT_EQ(exported.out, expectedStart);

  std::string file = home() + "/export.reg";
  ce::test::writeFile(file, exported.out);
  std::string other = otherDevice();
  ASSERT_EQ(reg({"import", file}, other).exitCode, 0);
  EXPECT_EQ(reg({"export", "--regedit4"}, other).out, exported.out);
  Run part = reg({"export", "--regedit4", "HKLM\\Software\\Quillbex\\a/b]"}, other);
  EXPECT_EQ(part.out,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]\\deep]\r\n\r\n");
  EXPECT_EQ(reg({"export", "HKLM\\Nope"}, other).exitCode, 1);
}

// A version 5.00 file as the desktop editors write it: UTF-16LE after a BOM.
std::string version5File(const std::u16string& body) {
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n" + body;
  std::string bytes = "\xff\xfe";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

class RegFileTest : public RegToolTest {
 protected:
  ce::test::ToolRun importFixture(const char* name) {
    return reg({"import", std::string(CE_REG_FIXTURES) + "/" + name});
  }
};

struct Data {
  DWORD type = 0;
  std::vector<BYTE> bytes;
};

Data valueOf(const wchar_t* keyPath, const wchar_t* name) {
  Data data;
  HKEY key = nullptr;
  if (ce::test::openKey(keyPath, key) != ERROR_SUCCESS) return data;
  DWORD size = 0;
  RegQueryValueExW(key, name, nullptr, &data.type, nullptr, &size);
  data.bytes.resize(size);
  RegQueryValueExW(key, name, nullptr, &data.type, data.bytes.data(), &size);
  RegCloseKey(key);
  return data;
}

std::vector<BYTE> wideBytes(const std::wstring& text) {
  const auto* begin = reinterpret_cast<const BYTE*>(text.data());
  return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(WCHAR));
}

TEST_F(RegFileTest, AVersion5FileInUtf16GivesEveryTypeItsData) {
  auto run = importFixture("version5.reg");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const wchar_t* key = L"Software\\Fixture";
  EXPECT_EQ(valueOf(key, L"").bytes, wideBytes(L"default"));
  EXPECT_EQ(valueOf(key, L"text").bytes, wideBytes(L"\u00c4rger \"quoted\" back\\slash"));
  EXPECT_EQ(valueOf(key, L"lines").bytes, wideBytes(L"one\ntwo"));
  EXPECT_EQ(valueOf(key, L"dword").bytes, (std::vector<BYTE>{0x1e, 0, 0, 0}));
  Data qword = valueOf(key, L"qword");
  EXPECT_EQ(qword.type, static_cast<DWORD>(REG_QWORD));  // hex(b) is eleven, not b = 11 decimal
  EXPECT_EQ(qword.bytes, (std::vector<BYTE>{0xff, 0, 0, 0, 0, 0, 0, 1}));
  // Text types in hex arrive as the registry's own wide text, surrogate pairs joined.
  Data expand = valueOf(key, L"expand");
  EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(expand.bytes, wideBytes(L"%A%\\\u00d8"));
  EXPECT_EQ(valueOf(key, L"multi").bytes, wideBytes(std::wstring(L"a\0\U0001F600\0", 4)));
  EXPECT_EQ(valueOf(key, L"bin").bytes, (std::vector<BYTE>{0, 1, 2, 0xff}));
  EXPECT_EQ(valueOf(key, L"none").type, static_cast<DWORD>(REG_NONE));
  EXPECT_EQ(valueOf(key, L"gone").type, 0u);
  EXPECT_EQ(valueOf(L"Software\\Fixture\\Zo\u00eb", L"\u4e2d\u6587").bytes,
            wideBytes(L"\u00e4rger"));
  EXPECT_FALSE(ce::test::keyExists(L"Software\\Removed"));
}

TEST_F(RegFileTest, ARegedit4FileInCodePage1252KeepsItsText) {
  auto run = importFixture("regedit4.reg");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(valueOf(L"Software\\Fixture", L"text").bytes, wideBytes(L"Zo\u00eb \u20ac5"));
  EXPECT_EQ(valueOf(L"Software\\Fixture", L"wide").bytes, wideBytes(L"\u4e2d\u6587"));
  EXPECT_EQ(valueOf(L"Software\\Fixture", L"dword").bytes,
            (std::vector<BYTE>{0xff, 0xff, 0xff, 0xff}));
  EXPECT_FALSE(ce::test::keyExists(L"Software\\Fixture\\Sub"));
}

TEST_F(RegFileTest, BothExportFormsComeBackUnchanged) {
  ASSERT_EQ(importFixture("version5.reg").exitCode, 0);
  // A value name with no form in code page 1252 cannot go into REGEDIT4: refused cleanly.
  EXPECT_EQ(reg({"export", "--regedit4"}).exitCode, 1);
  ASSERT_EQ(reg({"delete", "HKLM\\Software\\Fixture\\Zo\xc3\xab", "\xe4\xb8\xad\xe6\x96\x87"})
                .exitCode,
            0);
  std::string version5 = reg({"export"}).out;
  ASSERT_EQ(version5.rfind("\xff\xfeW\0i\0n\0", 0), 0u);
  std::string regedit4 = reg({"export", "--regedit4"}).out;
  ASSERT_EQ(regedit4.rfind("REGEDIT4\r\n", 0), 0u);
  // Text outside code page 1252 goes into UTF-16LE hex, and the QWORD keeps its type number.
  EXPECT_NE(regedit4.find("\"text\"=\"\xc4rger \\\"quoted\\\" back\\\\slash\""), std::string::npos);
  EXPECT_NE(regedit4.find("\"multi\"=hex(7):61,00,00,00,3d,d8,00,de,00,00,00,00\r\n"),
            std::string::npos) << regedit4;
  EXPECT_NE(regedit4.find("\"qword\"=hex(b):"), std::string::npos);

  for (const std::string& file : {version5, regedit4}) {
    std::string path = home() + "/round.reg";
    ce::test::writeFile(path, file);
    std::string other = otherDevice();
    ASSERT_EQ(reg({"import", path}, other).exitCode, 0);
    EXPECT_TRUE(reg({"export"}, other).out == version5);
    // Imported again over itself, nothing drifts.
    ASSERT_EQ(reg({"import", path}, other).exitCode, 0);
    EXPECT_TRUE(reg({"export"}, other).out == version5);
  }
}

// Code page 1252 holds U+0100 only by best fit, as "A": REGEDIT4 must never write the
// look-alike. The text goes into UTF-16LE hex, and a name that needs one is refused.
TEST_F(RegFileTest, Regedit4NeverWritesABestFitInPlaceOfACharacter) {
  ASSERT_EQ(reg({"set", "Software\\Fit", "v", "\xc4\x80"}).exitCode, 0);
  std::string regedit4 = reg({"export", "--regedit4"}).out;
  EXPECT_EQ(regedit4.find("\"v\"=\"A\""), std::string::npos) << regedit4;
  EXPECT_NE(regedit4.find("\"v\"=hex(1):00,01,00,00"), std::string::npos) << regedit4;
  ASSERT_EQ(reg({"set", "Software\\Fit", "\xc4\x80", "x"}).exitCode, 0);
  EXPECT_EQ(reg({"export", "--regedit4"}).exitCode, 1);
}

TEST_F(RegFileTest, OversizedImportsAreRefusedBeforeAnythingIsWritten) {
  std::string deep = "REGEDIT4\n[HKLM\\Software\\First]\n[HKLM";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  std::string file = home() + "/big.reg";
  ce::test::writeFile(file, deep + "]\n");
  auto run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("deeper than 512"), std::string::npos) << run.err;

  std::string wide = "REGEDIT4\n[HKLM\\Software\\First]\n";
  for (int i = 0; i < 1000000; ++i) wide += "[HKLM\\W\\" + std::to_string(i) + "]\n";
  ce::test::writeFile(file, wide);
  run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("more than 1000000 keys"), std::string::npos) << run.err;
  EXPECT_FALSE(ce::test::keyExists(L"Software\\First"));

  // A store nested that deep through the API is refused by export too, cleanly.
  std::wstring path = L"Deep";
  for (int i = 0; i < 600; ++i) path += L"\\k";
  RegCloseKey(ce::test::createKey(path.c_str()));
  run = reg({"export", "--regedit4"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("deeper than 512 levels"), std::string::npos) << run.err;
}

// The device's own export imports back: a key with 100,000 subkeys once went out and was
// refused coming in, by a limit the help did not name. Every limit is in the help.
TEST_F(RegFileTest, AnExportOfAHundredThousandSubkeysImportsBackWithinTheNamedLimits) {
  ASSERT_EQ(ce::registry::runInTransaction([] {
              for (int i = 0; i < 100000; ++i) {
                std::wstring path = L"Software\\Wide\\k" + std::to_wstring(i);
                HKEY key = nullptr;
                if (LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                              KEY_ALL_ACCESS, nullptr, &key, nullptr))
                  return rc;
                RegCloseKey(key);
              }
              return static_cast<LONG>(ERROR_SUCCESS);
            }),
            ERROR_SUCCESS);
  Run exported = reg({"export", "HKLM\\Software\\Wide"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  std::string file = home() + "/wide.reg", other = otherDevice();
  ce::test::writeFile(file, exported.out);
  Run imported = reg({"import", file}, other);
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_EQ(reg({"export", "HKLM\\Software\\Wide"}, other).out, exported.out);

  std::string help = reg({"import", "--help"}).out;
  for (const char* limit : {"--max-size", "1000000 keys", "512 levels", "255 characters",
                            "16383"})
    EXPECT_NE(help.find(limit), std::string::npos) << limit << " in " << help;
}

// A name with a control character cannot be written in a registry file. Set refuses it;
// one made through the API is left out of an export, which writes everything else and names
// what it left out in one line, where it used to refuse the whole registry.
TEST_F(RegFileTest, ANameNoFileCanCarryIsRefusedBySetAndLeftOutOfExportsByName) {
  Run set = reg({"set", "Software\\Kept", "a\nb", "x"});
  EXPECT_EQ(set.exitCode, 2);
  EXPECT_EQ(set.err.substr(0, set.err.find('\n') + 1),
            "cedevice: a value name cannot hold a control character: \"a\\x0ab\"\n");
  EXPECT_EQ(reg({"set", "Software\\Bad\x01Key", "v", "x"}).exitCode, 2);
  EXPECT_FALSE(ce::test::keyExists(L"Software\\Kept"));

  HKEY kept = ce::test::createKey(L"Software\\Kept");
  ce::test::setString(kept, L"good", L"1");
  ce::test::setString(kept, L"a\nb", L"2");
  RegCloseKey(kept);
  RegCloseKey(ce::test::createKey(L"Software\\Bad\x01Key\\below"));
  Run exported = reg({"export", "--regedit4", "HKLM\\Software"});
  EXPECT_EQ(exported.exitCode, 1);
  EXPECT_EQ(exported.out,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Kept]\r\n\"good\"=\"1\"\r\n\r\n");
  EXPECT_EQ(exported.err,
            "cedevice: exported all but 2 names a registry file cannot carry (a control "
            "character): the key HKEY_LOCAL_MACHINE\\Software\\Bad\\x01Key and everything "
            "below it; the value \"a\\x0ab\" in HKEY_LOCAL_MACHINE\\Software\\Kept\n");
}

// Text data that is not whole wide characters, or none at all, goes out as hex bytes: taken for
// a string, it was written as "" and came back as other data. Three names a file cannot carry
// are all named; from the fourth on, the rest are counted.
TEST_F(RegFileTest, OddOrEmptyTextGoesOutAsBytesAndOmittedNamesAreCountedPastThree) {
  HKEY key = ce::test::createKey(L"Software\\Odd");
  const BYTE odd[] = {'a', 0, 'b'};
  ASSERT_EQ(RegSetValueExW(key, L"odd", 0, REG_SZ, odd, sizeof odd), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, L"empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  RegCloseKey(key);
  Run exported = reg({"export", "--regedit4", "HKLM\\Software\\Odd"});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_NE(exported.out.find("\"odd\"=hex(1):61,00,62\r\n"), std::string::npos) << exported.out;
  EXPECT_NE(exported.out.find("\"empty\"=hex(1):\r\n"), std::string::npos) << exported.out;

  for (const wchar_t* name : {L"Software\\Three\\a\x01", L"Software\\Three\\b\x01",
                              L"Software\\Three\\c\x01"})
    RegCloseKey(ce::test::createKey(name));
  Run three = reg({"export", "HKLM\\Software\\Three"});
  EXPECT_EQ(three.exitCode, 1);
  EXPECT_NE(three.err.find("exported all but 3 names"), std::string::npos) << three.err;
  EXPECT_EQ(three.err.find("more"), std::string::npos) << three.err;
  RegCloseKey(ce::test::createKey(L"Software\\Three\\d\x01"));
  EXPECT_NE(reg({"export", "HKLM\\Software\\Three"}).err.find("; and 1 more\n"),
            std::string::npos);
}

// A UTF-8 file must import in under three times its size, in both shapes it comes in. One
// long value: widened for RegSetValueExW, each character took four bytes beside the store's
// UTF-8 copy (five times the file for ASCII text). Many short values: each string copied out
// of the file, with its bookkeeping, cost more than the file itself (3.3 times).
TEST_F(RegFileTest, UTF8FilesImportInUnderThreeTimesTheirSize) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer's shadow memory and its quarantine of freed blocks are a multiple of what
  // the import itself holds: the plain build measures it.
  GTEST_SKIP() << "memory is measured in the build without the sanitizer";
#endif
  const size_t size = 40u << 20;
  std::string longValue = "REGEDIT4\n[HKLM\\Software\\Long]\n\"text\"=\"" +
                          std::string(size, 'x') + "\"\n";
  std::string manyValues = "REGEDIT4\n";
  const std::string accents(40, 'x');
  for (int i = 0; manyValues.size() < size; ++i) {
    if (i % 20 == 0) manyValues += "[HKLM\\Software\\Many\\k" + std::to_string(i) + "]\n";
    manyValues += "\"value" + std::to_string(i) + "\"=\"" + accents + "\xc3\xbc\xc3\xbc\"\n";
  }
  for (const std::string* content : {&longValue, &manyValues}) {
    std::string file = home() + "/shape.reg";
    ce::test::writeFile(file, *content);
    // Measured from a process of its own, whose children are this import alone: the largest
    // child's peak is all getrusage gives, and this test's other children may be larger.
    const std::string peakFile = home() + "/peak";
    int code = ce::test::exitCodeInChild([&] {
      if (reg({"import", file}).exitCode != 0) return 1;
      rusage usage{};
      getrusage(RUSAGE_CHILDREN, &usage);
      ce::test::writeFile(peakFile, std::to_string(usage.ru_maxrss * 1024L));
      return 0;
    });
    ASSERT_EQ(code, 0);
    EXPECT_LT(std::stoul(ce::test::readFile(peakFile)), 3 * content->size())
        << (content == &longValue ? "one long value" : "many short values");
  }
  EXPECT_EQ(reg({"get", "HKLM\\Software\\Long", "text"}).out.size(), size + 1);
  EXPECT_EQ(reg({"get", "HKLM\\Software\\Many\\k20", "value21"}).out,
            accents + "\xc3\xbc\xc3\xbc\n");
}

// Get prints expandable and multiple strings as text; what is not one string shows as an
// exported file would carry it: UTF-16LE.
TEST_F(RegFileTest, SetTakesEveryTypeAsRegAddDoesAndGetPrintsItBack) {
  const std::string key = "HKLM\\Software\\Set";
  ASSERT_EQ(reg({"set", key, "q", "0x100000001", "--type", "qword"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "m", "a\\0b", "-t", "multi_sz"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "path", "%TEMP%\\x", "-t", "expand_sz"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "b", "00fF", "-t", "binary"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "d", "4294967295", "-t", "dword"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "s", "0x10"}).exitCode, 0);
  EXPECT_EQ(valueOf(L"Software\\Set", L"q").bytes, (std::vector<BYTE>{1, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"m").bytes, wideBytes(std::wstring(L"a\0b\0", 4)));
  EXPECT_EQ(valueOf(L"Software\\Set", L"b").bytes, (std::vector<BYTE>{0, 0xff}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"d").bytes, (std::vector<BYTE>{0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"s").bytes, wideBytes(L"0x10"));
  EXPECT_EQ(reg({"get", key, "m"}).out, "a\\0b\n");
  const WCHAR two[] = {L'a', 0, L'b', 0};
  RegSetValueExW(ce::test::createKey(L"Software\\Set"), L"odd", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(two), sizeof two);
  EXPECT_EQ(reg({"get", key}).out,
            "q=hex(b):01,00,00,00,01,00,00,00\nm=a\\0b\npath=%TEMP%\\x\nb=hex:00,ff\n"
            "d=4294967295\ns=0x10\nodd=hex(2):61,00,00,00,62,00,00,00\n");
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"d", "4294967296", "-t", "dword"}, {"d", "-1", "-t", "dword"},
        {"b", "0g", "-t", "binary"}}) {
    std::vector<std::string> args = {"set", "HKLM\\Software\\Refused"};
    args.insert(args.end(), bad.begin(), bad.end());
    EXPECT_EQ(reg(args).exitCode, 2) << bad[1];
  }
  EXPECT_FALSE(ce::test::keyExists(L"Software\\Refused"));
}

// Opt-in: runs only where Wine is installed (CI need not have it).
TEST_F(RegFileTest, WineRegeditReadsOurFileAndWeReadItsExport) {
  if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
  ASSERT_EQ(importFixture("version5.reg").exitCode, 0);
  std::string ours = home() + "/ours.reg", theirs = home() + "/theirs.reg";
  ce::test::writeFile(ours, reg({"export", "HKLM\\Software\\Fixture"}).out);
  std::string wine = "WINEPREFIX=" + home() + "/wine WINEDEBUG=-all wine regedit ";
  ASSERT_EQ(std::system((wine + "/S " + ours).c_str()), 0);
  std::string exportCommand = wine + "/E " + theirs + " \"HKEY_LOCAL_MACHINE\\Software\\Fixture\"";
  ASSERT_EQ(std::system(exportCommand.c_str()), 0);
  std::string other = otherDevice();
  auto run = reg({"import", theirs}, other);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Wine lists a key's values by name, we in the order they were made: compare line sets.
  auto sortedLines = [](const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sortedLines(reg({"export", "HKLM\\Software\\Fixture"}, other).out),
            sortedLines(ce::test::readFile(ours)));
}

// Files that fail part-way, in either form: one line naming the file, the line and what is
// wrong, and nothing imported, not even what came before the fault. A NUL would cut a name
// short when it reaches RegSetValueExW, and set another value.
TEST_F(RegFileTest, AFileThatFailsPartWayImportsNothingAndNamesItsLine) {
  HKEY kept = ce::test::createKey(L"Software\\Kept");
  ce::test::setString(kept, L"n", L"before");
  std::string file = home() + "/bad.reg";
  const std::u16string newKey = u"[HKEY_LOCAL_MACHINE\\Software\\New]\r\n";
  const struct {
    std::string text, error;
  } cases[] = {
      {"REGEDIT4\r\n\r\n; settings\r\n[HKEY_LOCAL_MACHINE\\Software\\New]\r\n\"a\"=\"1\"\r\n"
       "\"b\"=dword:xyz\r\n",
       ":6: bad dword: dword:xyz"},
      {"REGEDIT4\n\n[HKLM\\Software\\Kept]\n\"n\\0ul\"=\"after\"\n",
       ":4: a value name cannot hold a NUL character (\\0)"},
      {version5File(newKey + u"\"a\"=\"x" + std::u16string(1, 0xD800) + u"y\"\r\n"),
       ": the file starts as UTF-16 but is not valid UTF-16"},
      {version5File(newKey + u"\"a\"=hex(1):00,d8,41,00,00,00\r\n"),
       ":4: bad UTF-16 text in hex(1) data"},
      // A lone low half, in the file's own text and in text data.
      {version5File(newKey + u"\"a\"=\"x" + std::u16string(1, 0xDC00) + u"y\"\r\n"),
       ": the file starts as UTF-16 but is not valid UTF-16"},
      {version5File(newKey + u"\"a\"=hex(2):41,00,00,dc,00,00\r\n"),
       ":4: bad UTF-16 text in hex(2) data"},
      {version5File(newKey + u"\"a\"=dword:100000000\r\n"), ":4: bad dword: dword:100000000"},
  };
  for (const auto& c : cases) {
    ce::test::writeFile(file, c.text);
    Run run = reg({"import", file});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "cedevice: " + file + c.error + "\n");
  }
  EXPECT_FALSE(ce::test::keyExists(L"Software\\New"));
  EXPECT_EQ(ce::test::getString(kept, L"n"), L"before");

  // Every line understood, but the registry refuses one change: nothing stays.
  ce::test::writeFile(file, "REGEDIT4\n[HKLM\\Software\\New]\n\"a\"=\"1\"\n"
                            "[-HKLM\\Software\\Kept]\n[HKLM\\Software\\" +
                                std::string(300, 'n') + "]\n");
  Run run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("nothing was imported (error 87)"), std::string::npos) << run.err;
  EXPECT_FALSE(ce::test::keyExists(L"Software\\New"));
  EXPECT_TRUE(ce::test::keyExists(L"Software\\Kept"));

  for (const char* text :
       {"not a registry file\n", "REGEDIT4\n\"a\"=\"1\"\n", "REGEDIT4\n[HKEY_CURRENT_USER\\x]\n",
        "REGEDIT4\n[HKLM\\x]\n\"a\"=hex:1,2\n", "REGEDIT4\n[HKLM\\x]\n\"a\"=hex:01,\\\n"}) {
    ce::test::writeFile(file, text);
    EXPECT_EQ(reg({"import", file}).exitCode, 1) << text;
  }
  EXPECT_FALSE(ce::test::keyExists(L"x"));
}

TEST_F(RegFileTest, AFileOverTheSizeLimitIsRefusedInOneLineUnlessTheLimitIsRaised) {
  std::string file = home() + "/big.reg";
  std::string text = "REGEDIT4\n\n[HKLM\\Software\\Big]\n\"v\"=\"" +
                     std::string(3 * 1024 * 1024, 'x') + "\"\n";
  ce::test::writeFile(file, text);
  Run run = reg({"import", "--max-size", "2", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "cedevice: " + file + " is 3.0 MB, larger than the 2 MB an import reads; "
                     "nothing was imported (--max-size raises the limit)\n");
  EXPECT_FALSE(ce::test::keyExists(L"Software\\Big"));
  Run piped = ce::test::runShell(ce::test::buildDir() + "/apps/cedevice/cedevice --home " +
                                     ce::test::shellQuoted(home()) +
                                     " reg import --max-size 2 - < " + ce::test::shellQuoted(file),
                                 home() + "/piped.err");
  EXPECT_EQ(piped.exitCode, 1);
  EXPECT_EQ(piped.err, "cedevice: <stdin> is larger than the 2 MB an import reads; "
                       "nothing was imported (--max-size raises the limit)\n");

  ASSERT_EQ(reg({"import", "--max-size", "4", file}).exitCode, 0);
  EXPECT_EQ(valueOf(L"Software\\Big", L"v").bytes.size(), (3u * 1024 * 1024 + 1) * sizeof(WCHAR));

  // A file of exactly the limit is within it, read from its path or from a pipe.
  std::string exact = "REGEDIT4\n\n[HKLM\\Software\\Exact]\n\"v\"=\"";
  exact += std::string(2 * 1024 * 1024 - exact.size() - 2, 'y') + "\"\n";
  ce::test::writeFile(file, exact);
  EXPECT_EQ(reg({"import", "--max-size", "2", file}).exitCode, 0);
  Run exactPiped = ce::test::runShell(
      ce::test::buildDir() + "/apps/cedevice/cedevice --home " + ce::test::shellQuoted(home()) +
          " reg import --max-size 2 - < " + ce::test::shellQuoted(file),
      home() + "/exact.err");
  EXPECT_EQ(exactPiped.exitCode, 0) << exactPiped.err;
  EXPECT_TRUE(ce::test::keyExists(L"Software\\Exact"));
}

// A file of nested keys holds each key's whole path, so it grows with the square of its
// depth; importing it must cost no more than reading it (a chain four times deeper, a file
// sixteen times larger), where building every parent's path again for each key cost the cube.
TEST_F(RegFileTest, ImportingDeepKeysCostsInProportionToTheFile) {
  auto importChain = [&](int depth) {
    std::string text = "REGEDIT4\n\n", path = "HKLM\\Software";
    for (int i = 0; i < depth; ++i) {
      path += "\\" + std::string(254, static_cast<char>('a' + i % 26));
      text += "[" + path + "]\n";
    }
    std::string file = home() + "/chain" + std::to_string(depth) + ".reg";
    ce::test::writeFile(file, text);
    // The tool's processor time: on a busy machine, the clock's would measure the others.
    auto childSeconds = [] {
      rusage usage{};
      getrusage(RUSAGE_CHILDREN, &usage);
      return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    double before = childSeconds();
    EXPECT_EQ(reg({"import", file}).exitCode, 0);
    return childSeconds() - before;
  };
  double shallow = importChain(60), deep = importChain(240);
  EXPECT_LT(deep / shallow, 32.0) << shallow << " s, " << deep << " s";
}

}  // namespace
