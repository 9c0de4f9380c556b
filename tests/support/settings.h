// The client's settings as the listener reads them, for tests that link the configuration.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "platform/windows.h"

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

// A value of the client's node as the registry holds it, for forms the node never writes.
struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RawValue&) const = default;
};

inline void PrintTo(const RawValue& value, std::ostream* out) {
  *out << "type " << value.type << ":";
  for (BYTE byte : value.data) *out << ' ' << static_cast<int>(byte);
}

// `value` in `size` bytes, little-endian, as the device stores numbers.
inline std::vector<BYTE> numberBytes(uint64_t value, size_t size) {
  std::vector<BYTE> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  return bytes;
}

// Wide text as REG_SZ stores it, terminator included; embedded NULs are kept.
inline std::vector<BYTE> textBytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
  return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(WCHAR));
}

inline void writeRawSetting(const wchar_t* name, const RawValue& value) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillbex\\SyncclientPIM", 0, nullptr, 0,
                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExW(key, name, 0, value.type, value.data.data(),
                 static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
}

inline RawValue readRawSetting(const wchar_t* name) {
  RawValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillbex\\SyncclientPIM", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.data.resize(size);
    RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  }
  RegCloseKey(key);
  return value;
}

}  // namespace ce::test
