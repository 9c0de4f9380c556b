// The in-memory half of a configuration node, and the record of the last store failure.
#include "config/management_node.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "textcore/text_helpers.h"
#include "textcore/log.h"

int32_t lastErrorCode = 0;
StringBuffer lastErrorText("");
bool flushAfterWrite = true;

void setLastError(int32_t code, const char* format, ...) {
  lastErrorCode = code;
  va_list args;
  va_start(args, format);
  lastErrorText.vsprintf(format, args);
  va_end(args);
}

ManagementNode::ManagementNode(const char* context, const char* name)
    : name(duplicateString(name)), context(duplicateString(context)) {}

ManagementNode::ManagementNode(const char* fullContext) : name(nullptr), context(nullptr) {
  const char* slash = fullContext ? std::strrchr(fullContext, '/') : nullptr;
  if (!slash) {
    // A bounded buffer: a long context is cut, never written past its end.
    char message[512];
    std::snprintf(message, sizeof message, "Invalid context: %s",
                  fullContext ? fullContext : "(null)");
    sharedLog()->error("%s", message);
    return;
  }
  context = duplicateString(fullContext, static_cast<int>(slash - fullContext));
  name = duplicateString(slash + 1);
}

ManagementNode::~ManagementNode() {
  delete[] context;
  delete[] name;
  children.clear();
}

ManagementNode* ManagementNode::findChild(const char* childName) {
  if (!childName) return nullptr;
  for (int i = 0; i < children.size(); ++i) {
    auto* child = static_cast<ManagementNode*>(children.get(i));
    const char* candidate = child->getName();
    if (candidate && std::strcmp(candidate, childName) == 0) return child;
  }
  return nullptr;
}

ManagementNode* ManagementNode::childAt(int index) {
  return static_cast<ManagementNode*>(children.get(index));
}

int ManagementNode::appendChild(const ManagementNode& child) { return children.add(child); }

int ManagementNode::childCount() { return children.size(); }

char* ManagementNode::makeFullName() {
  const char* contextText = context ? context : "";
  const char* nameText = name ? name : "";
  size_t size = std::strlen(contextText) + std::strlen(nameText) + 2;
  char* fullName = new char[size];
  std::snprintf(fullName, size, "%s/%s", contextText, nameText);
  return fullName;
}

const char* ManagementNode::getName() { return name; }

StringMap* ManagementNode::readValueMap() {
  auto* map = new (std::nothrow) StringMap;
  if (map) map->put("__DUMMY_KEY__", "");
  return map;
}
