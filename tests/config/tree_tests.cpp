#include <memory>
#include <string>
#include <vector>

#include "platform/testing.h"
#include "tests/config/config_test.h"

namespace {

using ce::test::keyPathOf;
using testing::ElementsAre;
using TreeTest = ce::test::ConfigTest;

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
              ElementsAre("Quillbex/SyncclientPIM|sources", "Quillbex/SyncclientPIM|a/b"));
  // The child named a/b is the key with that name.
  EXPECT_EQ(keyPathOf(*node->childAt(1)), L"Software\\Quillbex\\SyncclientPIM\\a/b");

  std::unique_ptr<ManagementNode> sources(
      tree->readManagementNode("Quillbex/SyncclientPIM", "sources"));
  ASSERT_NE(sources, nullptr);
  EXPECT_THAT(childrenOf(*sources), ElementsAre("Quillbex/SyncclientPIM/sources|note",
                                                "Quillbex/SyncclientPIM/sources|briefcase"));

  // A snapshot: later changes in the store do not reach it.
  ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM\\later");
  EXPECT_EQ(node->childCount(), 2);
  EXPECT_TRUE(log().empty());
}

TEST_F(TreeTest, AContextWithoutSlashIsTheWholeContextWithAnEmptyName) {
  ce::test::createKey(L"Software\\abc\\child");
  std::unique_ptr<DMTree> tree(createTree("abc"));
  std::unique_ptr<ManagementNode> node(tree->readManagementNode("abc"));
  ASSERT_NE(node, nullptr);
  EXPECT_STREQ(node->getContext(), "abc");
  EXPECT_STREQ(node->getName(), "");
  EXPECT_THAT(childrenOf(*node), ElementsAre("abc|child"));
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
