// The client's settings as the listener reads them, for tests that link the configuration.
#pragma once

#include <memory>
#include <string>

#include "config/dm_tree.h"
#include "config/management_node.h"

namespace ce::test {

inline constexpr const char* kClientNode = "Quillbex/SyncclientPIM";

inline std::string readSetting(const char* name, const char* node = kClientNode) {
  std::unique_ptr<DMTree> tree(createTree(node));
  std::unique_ptr<ManagementNode> at(tree->readManagementNode(node));
  std::unique_ptr<char[]> value(at->readValue(name));
  return value ? value.get() : "";
}

inline void writeSetting(const char* name, const std::string& value,
                         const char* node = kClientNode) {
  std::unique_ptr<DMTree> tree(createTree(node));
  std::unique_ptr<ManagementNode> at(tree->readManagementNode(node));
  at->writeValue(name, value.c_str());
}

}  // namespace ce::test
