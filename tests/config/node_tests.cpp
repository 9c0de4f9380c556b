#include <string>

#include "config/device_management_node.h"
#include "platform/testing.h"
#include "tests/config/config_test.h"

namespace {

using ce::test::keyExists;
using ce::test::keyPathOf;
using ce::test::subkeysOf;
using ce::test::take;
using testing::ElementsAre;
using NodeTest = ce::test::ConfigTest;

TEST_F(NodeTest, ContextsAndNamesMapToRegistryKeys) {
  const struct {
    const char* context;
    const char* name;
    const wchar_t* keyPath;
  } cases[] = {
      {"Quillbex", "SyncclientPIM", L"Software\\Quillbex\\SyncclientPIM"},
      {"Software/Quillbex", "X", L"Software\\Quillbex\\X"},
      {"Quillbex", "a//b", L"Software\\Quillbex\\a//b"},
      // The test for Software is a plain substring one, case and all.
      {"MySoftware", "x", L"MySoftware\\x"},
      {"software", "x", L"Software\\software\\x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(keyPathOf(DeviceManagementNode(c.context, c.name)), c.keyPath) << c.name;

  DeviceManagementNode full("Quillbex/SyncclientPIM/sources");  // split at the last slash
  EXPECT_STREQ(full.getContext(), "Quillbex/SyncclientPIM");
  EXPECT_STREQ(full.getName(), "sources");
  wchar_t* path = DeviceManagementNode::contextToKeyPath("a///b/c");
  EXPECT_STREQ(path, L"a/\\b\\c");
  delete[] path;
  EXPECT_TRUE(log().empty());
}

TEST_F(NodeTest, ANodeWithoutSlashStandsForNoKeyAndTouchesNothing) {
  DeviceManagementNode node("abc");
  EXPECT_EQ(node.getName(), nullptr);
  EXPECT_EQ(node.getContext(), nullptr);
  EXPECT_EQ(keyPathOf(node), L"<null>");
  EXPECT_EQ(take(node.readValue("x")), "");
  EXPECT_EQ(lastErrorCode, 10000);
  EXPECT_STREQ(lastErrorText.c_str(), "Invalid context path: ");
  EXPECT_EQ(node.readChildNames(), nullptr);
  node.writeValue("x", "1");
  EXPECT_EQ(subkeysOf(HKEY_LOCAL_MACHINE), L"");

  // A context too long for the message buffer is cut, not written past it.
  std::string longContext(2000, 'c');
  DeviceManagementNode longNode(longContext.c_str());
  EXPECT_THAT(log(), ElementsAre("[ERROR] - Invalid context: abc",
                                 "[ERROR] - Invalid context: " + std::string(511 - 17, 'c')));
}

TEST_F(NodeTest, ReadingCreatesTheKeyButCountingDoesNot) {
  DeviceManagementNode node("Quillbex", "SyncclientPIM");
  EXPECT_EQ(node.storedChildCount(), 0);
  EXPECT_FALSE(keyExists(L"Software"));
  EXPECT_EQ(take(node.readValue("clientPushList")), "");
  EXPECT_TRUE(keyExists(L"Software\\Quillbex\\SyncclientPIM"));
  char** names = node.readChildNames();
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names[0], nullptr);
  delete[] names;
  EXPECT_EQ(lastErrorCode, 0);

  // A key the registry refuses (its name is too long): "" and the reason recorded.
  std::string tooLong(300, 'n');
  DeviceManagementNode refused("Quillbex", tooLong.c_str());
  EXPECT_EQ(take(refused.readValue("x")), "");
  EXPECT_EQ(lastErrorCode, 10000);
  EXPECT_EQ(lastErrorText.c_str(), "Invalid context path: Software\\Quillbex\\" + tooLong);
  EXPECT_EQ(refused.readChildNames(), nullptr);
}

TEST_F(NodeTest, ValuesAreStoredAsRegSzAndReadBack) {
  DeviceManagementNode node("Quillbex/SyncclientPIM");
  node.writeValue("clientPushList", "30");
  node.writeValue("path", "\\Program Files\\Caf\xc3\xa9");
  EXPECT_EQ(take(node.readValue("CLIENTPUSHLIST")), "30");
  EXPECT_EQ(take(node.readValue("path")), "\\Program Files\\Caf\xc3\xa9");
  HKEY key = nullptr;
  ASSERT_EQ(ce::test::openKey(L"Software\\Quillbex\\SyncclientPIM", key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  RegQueryValueExW(key, L"clientPushList", nullptr, &type, nullptr, &size);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 3 * sizeof(WCHAR));  // with its terminator

  // Null changes nothing and records nothing; text that cannot be converted keeps the old value.
  node.writeValue("clientPushList", nullptr);
  node.writeValue(nullptr, "1");
  EXPECT_EQ(lastErrorCode, 0);
  node.writeValue("clientPushList", "\xff\xfe");
  EXPECT_EQ(lastErrorCode, ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(take(node.readValue("clientPushList")), "30");
  EXPECT_EQ(take(node.readValue("\xff")), "");
}

TEST_F(NodeTest, ChildNamesAndDeletionKeepASlashInsideTheName) {
  ce::test::createKey(L"Software\\Quillbex\\a/b\\deeper");
  ce::test::createKey(L"Software\\Quillbex\\a\\b");
  ce::test::createKey(L"Software\\Quillbex\\c");
  DeviceManagementNode node("Software", "Quillbex");
  EXPECT_EQ(node.storedChildCount(), 3);
  char** names = node.readChildNames();
  ASSERT_NE(names, nullptr);
  EXPECT_STREQ(names[0], "a/b");
  EXPECT_STREQ(names[1], "a");
  EXPECT_STREQ(names[2], "c");
  EXPECT_EQ(names[3], nullptr);
  for (int i = 0; names[i]; ++i) delete[] names[i];
  delete[] names;

  // Not names of children, so never deleted: the node itself, the grandchild a\b.
  EXPECT_EQ(node.deleteChild(""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(node.deleteChild("a\\b"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(node.deleteChild("a/b"), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(ce::test::createKey(L"Software\\Quillbex")), L"a,c");
  EXPECT_TRUE(keyExists(L"Software\\Quillbex\\a\\b"));

  DeviceManagementNode nameless("Quillbex/");
  EXPECT_EQ(keyPathOf(nameless), L"Software\\Quillbex\\");
  // Enumeration that stops early leaves the entries it did not fill null.
  ce::testing::setFailPoint("RegEnumKeyExW", ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, 1);
  names = nameless.readChildNames();
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(names[0], nullptr);
  EXPECT_EQ(names[1], nullptr);
  delete[] names;
  EXPECT_EQ(lastErrorCode, ERROR_GEN_FAILURE);
  EXPECT_STREQ(lastErrorText.c_str(), "Error enumerating children nodes");
}

}  // namespace
