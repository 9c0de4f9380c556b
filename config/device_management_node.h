// DeviceManagementNode: a configuration node kept in the device registry. Every node is a key
// below HKEY_LOCAL_MACHINE, every value a REG_SZ value of it (a number that another program
// stored reads as its text, config/stored_number.h), every child a subkey. Each operation opens the key, works
// and closes it again: a node holds no handle and caches no value.
#pragma once

#include "config/management_node.h"

class DeviceManagementNode : public ManagementNode {
 public:
  DeviceManagementNode(const char* context, const char* name);
  explicit DeviceManagementNode(const char* fullContext);
  ~DeviceManagementNode() override;

  // the same context and name (the key path is worked out again) and clones of the children
  ArrayElement* clone() const override;

  // 0 when the key cannot be opened; never creates it
  int storedChildCount() override;
  // creates the key when missing; entries not read (enumeration stopped early) are null, and
  // a null entry always ends the array
  char** readChildNames() override;
  // creates the key when missing; a REG_DWORD or REG_QWORD reads as its decimal text, any
  // other type as its bytes taken as UTF-16 text
  char* readValue(const char* name) override;
  // null name or value: nothing happens. Always stored as REG_SZ, whatever type the value had;
  // a write of what is stored already writes nothing.
  void writeValue(const char* name, const char* value) override;
  // never creates the key
  bool hasValue(const char* name) override;
  // the subkey `name` (a '/' in it is part of the name) with everything below it; null: 0
  int deleteChild(const char* name) override;

  // the registry path below HKEY_LOCAL_MACHINE; null for a node without name and context
  const wchar_t* getKeyPath() const { return keyPath; }

  // "a//b/c" -> L"a/b\c": a doubled '/' is a literal '/', a single one a separator. A new
  // array (array delete); null for null text or text that cannot be converted.
  static wchar_t* contextToKeyPath(const char* text);

 private:
  void buildKeyPath();

  wchar_t* keyPath;
};
