// Key arguments and whole keys and values for the `reg` commands.
#include "apps/cedevice/reg_keys.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "platform/stores.h"

namespace cedevice::reg {

namespace {

const char* const rootNames[] = {"HKEY_LOCAL_MACHINE", "HKLM"};

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// The argument without its root and without one trailing '\'.
std::string relativePart(const std::string& argument) {
  std::string path = argument;
  for (const char* root : rootNames) {
    std::string name = root;
    if (startsWithIgnoringCase(path, name) &&
        (path.size() == name.size() || path[name.size()] == '\\')) {
      path = path.size() == name.size() ? "" : path.substr(name.size() + 1);
      break;
    }
  }
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

std::string keyArgumentProblem(const std::string& argument) {
  for (const char* other : {"HKEY_", "HKCU", "HKCR", "HKU\\", "HKCC"})
    if (startsWithIgnoringCase(argument, other) &&
        !startsWithIgnoringCase(argument, "HKEY_LOCAL_MACHINE"))
      return "only HKEY_LOCAL_MACHINE (HKLM) exists on this device: " + argument;
  std::string path = relativePart(argument);
  if (path.empty()) return "";
  if (path.front() == '\\' || path.find("\\\\") != std::string::npos)
    return "a key name cannot be empty: " + argument;
  return "";
}

std::wstring keyPathOf(const std::string& argument) { return widen(relativePart(argument)); }

std::string keyDisplayName(const std::wstring& path) {
  return path.empty() ? "HKEY_LOCAL_MACHINE" : "HKEY_LOCAL_MACHINE\\" + narrow(path);
}

void fail(const std::string& what, LONG error) {
  throw Failure(
      storeFailure(ce::registryStoreName, what + " (error " + std::to_string(error) + ")"), 1);
}

Key::Key(const std::wstring& path) : path_(path) {
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key_);
  if (rc == ERROR_FILE_NOT_FOUND) throw Failure("no key " + keyDisplayName(path), 1);
  if (rc != ERROR_SUCCESS) fail("cannot open " + keyDisplayName(path), rc);
}

Key::~Key() {
  if (key_) RegCloseKey(key_);
}

std::vector<Value> Key::values() const {
  std::vector<Value> all;
  for (DWORD i = 0;; ++i) {
    WCHAR name[CE_REGISTRY_MAX_NAME + 1];
    DWORD chars = CE_REGISTRY_MAX_NAME + 1;
    DWORD size = 0;
    Value value;
    LONG rc = RegEnumValueW(key_, i, name, &chars, nullptr, &value.type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) fail("cannot read the values of " + keyDisplayName(path_), rc);
    value.name.assign(name, chars);
    value.data = this->value(value.name).data;
    all.push_back(std::move(value));
  }
}

std::vector<std::wstring> Key::subkeys() const {
  std::vector<std::wstring> all;
  for (DWORD i = 0;; ++i) {
    WCHAR name[CE_REGISTRY_MAX_NAME + 1];
    DWORD chars = CE_REGISTRY_MAX_NAME + 1;
    LONG rc = RegEnumKeyExW(key_, i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) fail("cannot list the subkeys of " + keyDisplayName(path_), rc);
    all.emplace_back(name, chars);
  }
}

Value Key::value(const std::wstring& name) const {
  Value value;
  value.name = name;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key_, name.c_str(), nullptr, &value.type, nullptr, &size);
  // Another process may change it between the two queries: ask again while it grows.
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    value.data.resize(size);
    rc = RegQueryValueExW(key_, name.c_str(), nullptr, &value.type,
                          value.data.empty() ? nullptr : value.data.data(), &size);
    if (rc == ERROR_SUCCESS) {
      value.data.resize(size);
      return value;
    }
  }
  if (rc == ERROR_FILE_NOT_FOUND)
    throw Failure("no value \"" + narrow(name) + "\" in " + keyDisplayName(path_), 1);
  fail("cannot read \"" + narrow(name) + "\" in " + keyDisplayName(path_), rc);
}

bool textOf(const Value& value, std::wstring& text) {
  if (value.type != REG_SZ || value.data.size() < sizeof(WCHAR) ||
      value.data.size() % sizeof(WCHAR) != 0)
    return false;
  std::wstring all(value.data.size() / sizeof(WCHAR), L'\0');
  std::memcpy(all.data(), value.data.data(), value.data.size());
  if (all.back() != L'\0' || all.find(L'\0') != all.size() - 1) return false;
  all.pop_back();
  text = std::move(all);
  return true;
}

std::string hexData(const Value& value) {
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  std::string out = value.type == REG_BINARY ? "hex:" : prefix;
  for (size_t i = 0; i < value.data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", value.data[i]);
    out += byte;
  }
  return out;
}

std::string displayData(const Value& value) {
  std::wstring text;
  if (textOf(value, text)) {
    return oneLine(narrow(text), false);
  }
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, value.data.data(), sizeof number);
    return std::to_string(number);
  }
  return hexData(value);
}

}  // namespace cedevice::reg
