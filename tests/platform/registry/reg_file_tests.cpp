// Registry files in both forms, written by hand from the format's rules, and round trips.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/platform/registry/registry_test_helpers.h"

namespace {

class RegFileTest : public ce::test::RegToolTest {
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
  ASSERT_EQ(reg({"delete", "HKLM\\Software\\Fixture\\Zo\xc3\xab", "\xe4\xb8\xad\xe6\x96\x87"}).exitCode, 0);
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

TEST_F(RegFileTest, OversizedImportsAreRefusedBeforeAnythingIsWritten) {
  std::string deep = "REGEDIT4\n[HKLM\\Software\\First]\n[HKLM";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  std::string file = home() + "/big.reg";
  ce::test::writeFile(file, deep + "]\n");
  auto run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("deeper than 512"), std::string::npos) << run.err;

  std::string wide = "REGEDIT4\n[HKLM\\Software\\First]\n";
  for (int i = 0; i < 100000; ++i) wide += "[HKLM\\Software\\W\\" + std::to_string(i) + "]\n";
  ce::test::writeFile(file, wide);
  run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("more than 100000 keys"), std::string::npos) << run.err;
  EXPECT_FALSE(ce::test::keyExists(L"Software\\First"));

  // A store nested that deep through the API is refused by export too, cleanly.
  std::wstring path = L"Deep";
  for (int i = 0; i < 600; ++i) path += L"\\k";
  RegCloseKey(ce::test::createKey(path.c_str()));
  run = reg({"export", "--regedit4"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("deeper than 512 levels"), std::string::npos) << run.err;
}

TEST_F(RegFileTest, SetTakesEveryTypeAsRegAddDoes) {
  const std::string key = "HKLM\\Software\\Set";
  ASSERT_EQ(reg({"set", key, "q", "0x100000001", "--type", "qword"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "m", "a\\0b", "-t", "multi_sz"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "b", "00fF", "-t", "binary"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "d", "4294967295", "-t", "dword"}).exitCode, 0);
  ASSERT_EQ(reg({"set", key, "s", "0x10"}).exitCode, 0);
  EXPECT_EQ(valueOf(L"Software\\Set", L"q").bytes, (std::vector<BYTE>{1, 0, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"m").bytes, wideBytes(std::wstring(L"a\0b\0", 4)));
  EXPECT_EQ(valueOf(L"Software\\Set", L"b").bytes, (std::vector<BYTE>{0, 0xff}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"d").bytes, (std::vector<BYTE>{0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(valueOf(L"Software\\Set", L"s").bytes, wideBytes(L"0x10"));
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"d", "4294967296", "-t", "dword"}, {"d", "-1", "-t", "dword"},
        {"b", "0g", "-t", "binary"}, {"x", "1", "-t", "float"}}) {
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
  ASSERT_EQ(std::system((wine + "/E " + theirs + " \"HKEY_LOCAL_MACHINE\\Software\\Fixture\"").c_str()), 0);
  std::string other = otherDevice();
  auto run = reg({"import", theirs}, other);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Wine lists a key's values by name, we in the order they were made: compare line sets.
  auto sortedLines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find("\n", at);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(at, end - at));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sortedLines(reg({"export", "HKLM\\Software\\Fixture"}, other).out),
            sortedLines(ce::test::readFile(ours)));
}

}  // namespace
