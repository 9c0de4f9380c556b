// The configuration tree: nodes for context paths, with one level of stored children.
#include "config/dm_tree.h"

#include <new>

#include "config/device_management_node.h"
#include "textcore/log.h"

namespace {

// Attaches one level of stored children to `node`, each with context `parentContext`.
void getChildrenNames(ManagementNode* node, const char* parentContext) {
  if (!node) return;
  int count = node->storedChildCount();
  if (count == 0) return;
  char** names = node->readChildNames();
  if (!names) {
    sharedLog()->error("Error in getChildrenNames");
    return;
  }
  // The count and the names are two queries: stop at the first name not read (a null entry,
  // which also ends the array when the store holds fewer keys by now).
  for (int i = 0; i < count && names[i]; ++i) {
    DeviceManagementNode child(parentContext, names[i]);
    node->appendChild(child);
  }
  for (int i = 0; names[i]; ++i) {
    delete[] names[i];
    names[i] = nullptr;
  }
  delete[] names;
}

}  // namespace

DMTree::DMTree(const char* rootContext) : root(rootContext) {}

DMTree::~DMTree() {}

bool DMTree::isLeafNode(const char* fullContext) {
  DeviceManagementNode node(fullContext);
  return node.storedChildCount() == 0;
}

ManagementNode* DMTree::readManagementNode(const char* context, const char* name) {
  if (!context || !name) {
    sharedLog()->error("DMTree::readManagementNode - NULL node name");
    return nullptr;
  }
  auto* node = new (std::nothrow) DeviceManagementNode(context, name);
  if (!node) {
    sharedLog()->error("DMTree::readManagementNode - NULL node");
    return nullptr;
  }
  char* fullName = node->makeFullName();
  getChildrenNames(node, fullName);
  delete[] fullName;
  return node;
}

ManagementNode* DMTree::readManagementNode(const char* fullContext) {
  if (!fullContext) {
    sharedLog()->error("DMTree::readManagementNode - NULL node name");
    return nullptr;
  }
  StringBuffer path(fullContext);
  if (path.find("/") < 0) path.append("/");
  auto* node = new (std::nothrow) DeviceManagementNode(path.c_str());
  if (!node) {
    sharedLog()->error("DMTree::readManagementNode - NULL node");
    return nullptr;
  }
  getChildrenNames(node, fullContext);
  return node;
}

ManagementNode* DMTree::getNodeUnderRoot(const char* path) {
  if (!path || !root.c_str()) return nullptr;
  // At most one '/' is dropped on each side of the join.
  StringBuffer base(root);
  if (base.endsWith('/')) base = root.substr(0, root.length() - 1);
  const char* relative = path[0] == '/' ? path + 1 : path;
  StringBuffer full;
  full.sprintf("%s/%s", base.c_str(), relative);
  return new (std::nothrow) DeviceManagementNode(full.c_str());
}

DMTree* createTree(const char* rootContext) { return new (std::nothrow) DMTree(rootContext); }
