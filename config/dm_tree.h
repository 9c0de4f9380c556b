// DMTree: the entry point to the configuration store. Created once with a root context, it
// hands out DeviceManagementNode objects for context paths, each with its stored children
// attached. It caches nothing: every call builds its nodes afresh from the store.
#pragma once

#include "config/management_node.h"
#include "textcore/string_buffer.h"

class DMTree {
 public:
  explicit DMTree(const char* rootContext);
  DMTree(const DMTree&) = delete;
  DMTree& operator=(const DMTree&) = delete;

  // whether the stored node has no child keys (also when it does not exist)
  virtual bool isLeafNode(const char* fullContext);
  virtual ~DMTree();
  // The node <context>/<name> with its stored children, owned by the caller; null when either
  // argument is null.
  virtual ManagementNode* readManagementNode(const char* context, const char* name);
  // The node for a full context with its stored children, owned by the caller. Without a '/'
  // the whole text is the context and the name is empty.
  virtual ManagementNode* readManagementNode(const char* fullContext);
  // The node for `path` relative to the root, without children; null for a null path or root.
  virtual ManagementNode* getNodeUnderRoot(const char* path);

  const StringBuffer& getRoot() const { return root; }

 private:
  StringBuffer root;
};

// A new tree owned by the caller, or null when it cannot be allocated.
DMTree* createTree(const char* rootContext);
