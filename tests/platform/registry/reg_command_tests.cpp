#include <string>
#include <vector>

#include "tests/platform/registry/registry_test_helpers.h"

namespace {

using RegCommandTest = ce::test::RegToolTest;

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

  EXPECT_EQ(reg({"get", "HKLM\\Software\\Nope"}).err,
            "cedevice: no key HKEY_LOCAL_MACHINE\\Software\\Nope\n");
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
  const std::vector<std::vector<std::string>> bad = {
      {"get"}, {"get", "HKCU\\Software"}, {"list", "HKLM\\\\x"}, {"set", "HKLM\\x", "v"},
      {"import"}, {"frobnicate"}};
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
  const std::string expectedStart =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\SyncclientPIM]\r\n"
      "\"path\"=\"\\\\Program Files\\\\\\\"Quoted\\\" Caf\xe9\"\r\n"
      "@=\"default\"\r\n"
      "\"lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n";
  EXPECT_EQ(exported.out.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(exported.out.find("\n\"interval\"=dword:0000001e\r\n\"bin\"=hex:00,ff,10\r\n"
                              "\"empty\"=hex:\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]]\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]\\deep]\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Empty]\r\n\r\n"),
            std::string::npos)
      << exported.out;

  std::string file = home() + "/export.reg";
  ce::test::writeFile(file, exported.out);
  std::string other = otherDevice();
  Run imported = reg({"import", file}, other);
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_EQ(reg({"export", "--regedit4"}, other).out, exported.out);
  Run part = reg({"export", "--regedit4", "HKLM\\Software\\Quillbex\\a/b]"}, other);
  EXPECT_EQ(part.out,
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Quillbex\\a/b]\\deep]\r\n\r\n");
  EXPECT_EQ(reg({"export", "HKLM\\Nope"}, other).exitCode, 1);
}

TEST_F(RegCommandTest, AFileThatFailsPartWayImportsNothing) {
  RegCloseKey(ce::test::createKey(L"Software\\Kept"));
  std::string file = home() + "/bad.reg";
  ce::test::writeFile(file,
                      "REGEDIT4\r\n\r\n"
                      "; settings\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\New]\r\n"
                      "\"a\"=\"1\"\r\n"
                      "\"b\"=dword:xyz\r\n");
  Run run = reg({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "cedevice: " + file + ":6: bad dword: dword:xyz\n");
  EXPECT_FALSE(ce::test::keyExists(L"Software\\New"));

  // Every line understood, but the registry refuses one change: nothing stays.
  ce::test::writeFile(file, "REGEDIT4\n[HKLM\\Software\\New]\n\"a\"=\"1\"\n"
                            "[-HKLM\\Software\\Kept]\n[HKLM\\Software\\" +
                                std::string(300, 'n') + "]\n");
  run = reg({"import", file});
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
  EXPECT_EQ(reg({"import", home() + "/missing.reg"}).exitCode, 1);
}

}  // namespace
