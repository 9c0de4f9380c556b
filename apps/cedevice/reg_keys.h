// What the `reg` commands share: key arguments, and keys and values read whole.
#pragma once

#include <string>
#include <vector>

#include "platform/windows.h"

namespace cedevice::reg {

// "HKLM\Software\x", "HKEY_LOCAL_MACHINE\Software\x" or "Software\x" -> L"Software\x" (the
// path below HKEY_LOCAL_MACHINE; "" for the root itself). One trailing '\' is dropped.
std::wstring keyPathOf(const std::string& argument);
// The same in UTF-8, as given.
std::string relativeKeyPath(const std::string& argument);
// Why `argument` cannot name a key ("" when it can): another root, or an empty name.
std::string keyArgumentProblem(const std::string& argument);
// L"Software\x" -> "HKEY_LOCAL_MACHINE\Software\x", for messages and files.
std::string keyDisplayName(const std::wstring& path);

struct Value {
  std::wstring name;  // "" is the key's default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// An open key, closed with the object. Throws Failure: exit 1 when the key does not exist.
class Key {
 public:
  explicit Key(const std::wstring& path);
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key();
  HKEY get() const { return key_; }
  const std::wstring& path() const { return path_; }

  std::vector<Value> values() const;
  std::vector<std::wstring> subkeys() const;
  // Throws Failure (exit 1) when there is no such value.
  Value value(const std::wstring& name) const;

 private:
  std::wstring path_;
  HKEY key_ = nullptr;
};

// The data when it is one NUL-terminated string (of any type).
bool singleString(const Value& value, std::wstring& text);
// The value's text when it is a REG_SZ that holds one NUL-terminated string.
bool textOf(const Value& value, std::wstring& text);
// The strings of a REG_MULTI_SZ: NUL-separated, the list ended by an extra NUL.
bool stringsOf(const Value& value, std::vector<std::wstring>& strings);
// The data as a registry file carries it: the text types in UTF-16LE (whole wide characters
// only), anything else as it is.
std::vector<BYTE> fileBytes(const Value& value);
// One line for `reg get`: text (REG_SZ, REG_EXPAND_SZ; REG_MULTI_SZ with \0 between its
// strings, as `reg set` takes it), a decimal dword, or hex bytes as in an exported file.
std::string displayData(const Value& value);
// "hex:01,02" (REG_BINARY) or "hex(b):..." for other types, numbered in hexadecimal; text
// types in UTF-16LE.
std::string hexData(const Value& value);

// Throws Failure (exit 1) naming what failed and the registry's error code.
[[noreturn]] void fail(const std::string& what, LONG error);

}  // namespace cedevice::reg
