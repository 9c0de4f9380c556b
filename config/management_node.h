// ManagementNode: one node of the configuration tree, addressed by a context path whose parts
// are separated by '/' ("Quillbex/SyncclientPIM"): the last part is the node's name, what comes
// before the last '/' its context. It holds the name, the context and an in-memory list of
// child nodes; the store operations are left to a subclass (DeviceManagementNode).
#pragma once

#include <cstdint>

#include "textcore/array_element.h"
#include "textcore/element_list.h"
#include "textcore/string_buffer.h"
#include "textcore/string_map.h"

class ManagementNode : public ArrayElement {
 public:
  // Both copied (a null one stays null); no children.
  ManagementNode(const char* context, const char* name);
  // Split at the last '/' (either side may be empty). Without a '/' the error
  // "Invalid context: <fullContext>" is logged and name and context stay null.
  explicit ManagementNode(const char* fullContext);
  ManagementNode(const ManagementNode&) = delete;
  ManagementNode& operator=(const ManagementNode&) = delete;
  ~ManagementNode() override;

  ArrayElement* clone() const override = 0;

  // the first child, in list order, whose name equals `name` byte for byte; owned by this node
  virtual ManagementNode* findChild(const char* name);
  // null when out of range; owned by this node
  virtual ManagementNode* childAt(int index);
  // stores a clone of `child`; the new index
  virtual int appendChild(const ManagementNode& child);
  virtual int childCount();
  // a new array (array delete) with "<context>/<name>"
  virtual char* makeFullName();
  // the node's own text, not a copy
  virtual const char* getName();

  // number of child keys in the store
  virtual int storedChildCount() = 0;
  // a new array of new names of the child keys, ended by a null entry; null on failure
  virtual char** readChildNames() = 0;
  // a new array (array delete) with the value's text; "" when missing or unreadable, never null
  virtual char* readValue(const char* name) = 0;
  virtual void writeValue(const char* name, const char* value) = 0;
  // whether the store holds a value of this name, whatever its type or content
  virtual bool hasValue(const char* name) = 0;
  // removes the child key `name` from the store (not from the list); 0 when deleted
  virtual int deleteChild(const char* name) = 0;
  // a new map owned by the caller
  virtual StringMap* readValueMap();

  const char* getContext() const { return context; }

 protected:
  char* name;
  char* context;
  ElementList children;
};

// The most recent store failure of any node. writeValue reports nothing else, so a caller that
// must know whether its value was stored clears the code before the write and looks after it.
// flushAfterWrite makes every written value durable before writeValue returns.
extern int32_t lastErrorCode;
extern StringBuffer lastErrorText;
extern bool flushAfterWrite;

// Sets the code and formats the text (a plain text is a format without arguments).
void setLastError(int32_t code, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
