#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "config/device_management_node.h"
#include "config/dm_tree.h"
#include "textcore/log.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/locale_for_scope.h"
#include "tests/support/log_lines.h"
#include "tests/support/settings.h"

namespace {

using ce::test::keyExists;
using ce::test::subkeysOf;
using testing::ElementsAre;

// A fresh device with the log in \notlstnr.txt and the last store failure cleared.
class ConfigTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    sharedLog()->setDirectory("");
    sharedLog()->setFileName("notlstnr.txt");
    sharedLog()->setLevel(LogDebug);
    lastErrorCode = 0;
    lastErrorText = "";
  }
  std::vector<std::string> log() { return ce::test::logEntries(home()); }
};

// The texts the nodes return belong to the caller.
std::string take(char* text) {
  std::string copy = text ? text : "<null>";
  delete[] text;
  return copy;
}

std::wstring keyPathOf(const ManagementNode& node) {
  const wchar_t* path = static_cast<const DeviceManagementNode&>(node).getKeyPath();
  return path ? path : L"<null>";
}

using NodeTest = ConfigTest;

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
  EXPECT_TRUE(log().empty());
}

// A context too long for the message buffer is cut, not written past it.
TEST_F(NodeTest, AContextWithoutSlashIsLoggedCutToTheBuffer) {
  std::string longContext(2000, 'c');
  DeviceManagementNode longNode(longContext.c_str());
  EXPECT_EQ(longNode.getName(), nullptr);
  EXPECT_THAT(log(), ElementsAre("[ERROR] - Invalid context: " + std::string(511 - 17, 'c')));
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

// Error texts carry a key path beyond ASCII whole whatever the locale: in the "C" locale, where
// a process is left when setlocale fails (as under Wine), "%ls" cut it at the first accent.
std::string lastErrorTextOrNull() {
  return lastErrorText.c_str() ? lastErrorText.c_str() : "<null>";
}

TEST_F(NodeTest, ErrorTextsKeepKeyPathsBeyondAsciiWhateverTheLocale) {
  ce::test::LocaleForScope plainC("C");
  const std::string name = "Caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80";
  DeviceManagementNode node("Quillbex", name.c_str());
  ce::testing::setFailPoint("RegCreateKeyExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
  EXPECT_EQ(take(node.readValue("x")), "");
  EXPECT_EQ(lastErrorTextOrNull(), "Invalid context path: Software\\Quillbex\\" + name);
  ce::testing::clearFailPoints();
  EXPECT_EQ(node.deleteChild("m\xc3\xa9mo"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(lastErrorTextOrNull(),
            "Could not delete node: Software\\Quillbex\\" + name + "\\m\xc3\xa9mo");
}

TEST_F(NodeTest, ValuesAreStoredAsRegSzAndReadBack) {
  DeviceManagementNode node("Quillbex/SyncclientPIM");
  node.writeValue("clientPushList", "30");
  node.writeValue("path", "\\Program Files\\Caf\xc3\xa9");
  EXPECT_EQ(take(node.readValue("CLIENTPUSHLIST")), "30");
  EXPECT_EQ(take(node.readValue("path")), "\\Program Files\\Caf\xc3\xa9");
  std::string longPath = "\\Storage Card";
  while (longPath.size() < 250) longPath += "\\Caf\xc3\xa9 folder";
  node.writeValue("path", longPath.c_str());
  EXPECT_EQ(take(node.readValue("path")), longPath);  // longer than any first read
  EXPECT_EQ(ce::test::readRawSetting(L"clientPushList"),
            (ce::test::RawValue{REG_SZ, ce::test::textBytes(L"30")}));  // terminator included

  // Null changes nothing and records nothing; text that cannot be converted keeps the old value.
  node.writeValue("clientPushList", nullptr);
  node.writeValue(nullptr, "1");
  EXPECT_EQ(lastErrorCode, 0);
  node.writeValue("clientPushList", "\xff\xfe");
  EXPECT_EQ(lastErrorCode, ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(take(node.readValue("clientPushList")), "30");
  EXPECT_EQ(take(node.readValue("\xff")), "");
}

// Another program may store a value in another type. A REG_DWORD or REG_QWORD reads as its
// unsigned decimal text; any other type as its bytes taken as UTF-16 text (so a REG_BINARY
// `34 00 00 00` is "4", not the 52 a little-endian reading would make of it). Whatever was
// there, a write stores REG_SZ text; writing what is stored already writes nothing.
TEST_F(NodeTest, ValuesOfEveryTypeReadAsTheirTextAndAreWrittenBackAsRegSz) {
  using ce::test::numberBytes;
  using ce::test::RawValue;
  auto text = [](const wchar_t* value) { return RawValue{REG_SZ, ce::test::textBytes(value)}; };
  // Added one by one: GCC 12 at -O3 warns (-Wmaybe-uninitialized, falsely) on the clean-up
  // of a braced array of these.
  std::vector<std::pair<RawValue, const char*>> cases;
  auto add = [&cases](RawValue stored, const char* read) { cases.emplace_back(stored, read); };
  add({REG_DWORD, numberBytes(0xffffffff, 4)}, "4294967295");
  add({REG_QWORD, numberBytes(uint64_t{1} << 63, 8)}, "9223372036854775808");
  add({REG_BINARY, {0x34, 0, 0, 0}}, "4");
  add({REG_BINARY, {0x31, 0, 0x36, 0, 0, 0, 0, 0}}, "16");
  add({REG_BINARY, {0x34, 0, 0x35}}, "45");  // an odd last byte is a character of its own
  add({REG_BINARY, {0xe9, 0, 0x3d, 0xd8, 0x00, 0xde}}, "\xc3\xa9\xf0\x9f\x98\x80");
  // Only a high half followed by a low one is a pair.
  add({REG_BINARY, {0x3d, 0xd8, 0x00, 0xe0}}, "\xef\xbf\xbd\xee\x80\x80");
  add({REG_BINARY, {0x00, 0xdc, 0x00, 0xdc}}, "\xef\xbf\xbd\xef\xbf\xbd");
  // The pairs at both ends of the range: U+10000 (D800 DC00) and U+10FFFF (DBFF DFFF).
  add({REG_BINARY, {0x00, 0xd8, 0x00, 0xdc, 0xff, 0xdb, 0xff, 0xdf}},
      "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
  add({REG_DWORD, {0x41, 0}}, "A");  // a DWORD of another size holds no number
  add({REG_EXPAND_SZ, ce::test::textBytes(L"%x%")}, "%x%");
  add({REG_MULTI_SZ, ce::test::textBytes(std::wstring(L"12\0003", 4))}, "12");
  DeviceManagementNode node("Quillbex/SyncclientPIM");
  for (const auto& [stored, read] : cases) {
    ce::test::writeRawSetting(L"value", stored);
    EXPECT_EQ(take(node.readValue("value")), read) << read;
    node.writeValue("value", read);
    EXPECT_EQ(ce::test::readRawSetting(L"value").type, static_cast<DWORD>(REG_SZ)) << read;
    EXPECT_EQ(take(node.readValue("value")), read) << read;
  }
  node.writeValue("value", "-2");
  EXPECT_EQ(ce::test::readRawSetting(L"value"), text(L"-2"));
  ce::testing::setFailPoint("RegSetValueExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED);
  node.writeValue("value", "-2");
  EXPECT_EQ(lastErrorCode, 0);
  node.writeValue("value", "6");
  EXPECT_EQ(lastErrorCode, ERROR_ACCESS_DENIED);
}

TEST_F(NodeTest, ChildNamesAndDeletionKeepASlashInsideTheName) {
  ce::test::createKey(L"Software\\Quillbex\\a/b\\deeper");
  ce::test::createKey(L"Software\\Quillbex\\a\\b");
  ce::test::createKey(L"Software\\Quillbex\\c");
  DeviceManagementNode node("Software", "Quillbex");
  EXPECT_EQ(node.storedChildCount(), 3);
  char** names = node.readChildNames();
  ASSERT_NE(names, nullptr);
  // In the store's order, the device's: names compared upper-cased ("A" before "A/B").
  EXPECT_THAT(std::vector<std::string>(names, names + 3), ElementsAre("a", "a/b", "c"));
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
  EXPECT_TRUE(names[0] == nullptr && names[1] == nullptr);
  delete[] names;
  EXPECT_EQ(lastErrorCode, ERROR_GEN_FAILURE);
  EXPECT_STREQ(lastErrorText.c_str(), "Error enumerating children nodes");
}

using TreeTest = ConfigTest;

// "context|name" of every child, in order.
std::vector<std::string> childrenOf(ManagementNode& node) {
  std::vector<std::string> out;
  for (int i = 0; i < node.childCount(); ++i) {
    ManagementNode* child = node.childAt(i);
    out.push_back(std::string(child->getContext()) + "|" + child->getName());
    EXPECT_EQ(child->childCount(), 0);
  }
  return out;
}

TEST_F(TreeTest, ANodeComesWithItsStoredChildrenInStoreOrder) {
  ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM\\sources\\note");
  ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM\\sources\\briefcase");
  ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM\\a/b");
  std::unique_ptr<DMTree> tree(createTree("Quillbex/SyncclientPIM"));
  ASSERT_NE(tree, nullptr);
  std::unique_ptr<ManagementNode> node(tree->readManagementNode("Quillbex/SyncclientPIM"));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(keyPathOf(*node), L"Software\\Quillbex\\SyncclientPIM");
  EXPECT_THAT(childrenOf(*node),
              ElementsAre("Quillbex/SyncclientPIM|a/b", "Quillbex/SyncclientPIM|sources"));
  // The child named a/b is the key with that name.
  EXPECT_EQ(keyPathOf(*node->childAt(0)), L"Software\\Quillbex\\SyncclientPIM\\a/b");

  std::unique_ptr<ManagementNode> sources(
      tree->readManagementNode("Quillbex/SyncclientPIM", "sources"));
  ASSERT_NE(sources, nullptr);
  EXPECT_THAT(childrenOf(*sources), ElementsAre("Quillbex/SyncclientPIM/sources|briefcase",
                                                "Quillbex/SyncclientPIM/sources|note"));

  // A snapshot: later changes in the store do not reach it.
  ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM\\later");
  EXPECT_EQ(node->childCount(), 2);
  EXPECT_TRUE(log().empty());
}

TEST_F(TreeTest, UnreadableChildrenAreLogged) {
  std::unique_ptr<DMTree> tree(createTree("Quillbex"));
  // The count opens for reading, the names with creation: make only the second fail.
  ce::test::createKey(L"Software\\Quillbex\\child");
  ce::testing::setFailPoint("RegCreateKeyExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1);
  std::unique_ptr<ManagementNode> failed(tree->readManagementNode("Software/Quillbex"));
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->childCount(), 0);
  EXPECT_THAT(log(), ElementsAre("[ERROR] - Error in getChildrenNames"));
  std::unique_ptr<ManagementNode> node(tree->readManagementNode("Software/Quillbex"));
  EXPECT_EQ(node->childCount(), 1);
}

}  // namespace
