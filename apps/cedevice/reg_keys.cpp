// Key arguments and whole keys and values for the `reg` commands.
#include "apps/cedevice/reg_keys.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/failure.h"
#include "apps/cedevice/reg_text.h"
#include "platform/linux/stores.h"

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

std::string relativeKeyPath(const std::string& argument) { return relativePart(argument); }

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
  // Room for the longest name a value may have, left unfilled: filling its 64 KiB for every
  // key was a fifth of an export of many small keys in the sanitizer build.
  constexpr DWORD nameRoom = CE_REGISTRY_MAX_VALUE_NAME + 1;
  std::unique_ptr<WCHAR[]> name = std::make_unique_for_overwrite<WCHAR[]>(nameRoom);
  std::vector<BYTE> data(256);
  for (DWORD i = 0;;) {
    DWORD chars = nameRoom;
    DWORD size = static_cast<DWORD>(data.size());
    Value value;
    LONG rc = RegEnumValueW(key_, i, name.get(), &chars, nullptr, &value.type, data.data(),
                            &size);
    // The data did not fit: the same index again with room for it (it may grow meanwhile).
    if (rc == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      continue;
    }
    if (rc == ERROR_NO_MORE_ITEMS) return all;
    if (rc != ERROR_SUCCESS) fail("cannot read the values of " + keyDisplayName(path_), rc);
    value.name.assign(name.get(), chars);
    value.data.assign(data.begin(), data.begin() + size);
    all.push_back(std::move(value));
    ++i;
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

namespace {

// The data as whole wide characters; false for a byte count that is not.
bool wideCharsOf(const Value& value, std::wstring& chars) {
  if (value.data.size() % sizeof(WCHAR) != 0) return false;
  chars.assign(value.data.size() / sizeof(WCHAR), L'\0');
  if (!chars.empty()) std::memcpy(chars.data(), value.data.data(), value.data.size());
  return true;
}

bool isTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

bool singleString(const Value& value, std::wstring& text) {
  std::wstring all;
  if (!wideCharsOf(value, all) || all.empty()) return false;
  if (all.back() != L'\0' || all.find(L'\0') != all.size() - 1) return false;
  all.pop_back();
  text = std::move(all);
  return true;
}

bool textOf(const Value& value, std::wstring& text) {
  return value.type == REG_SZ && singleString(value, text);
}

bool stringsOf(const Value& value, std::vector<std::wstring>& strings) {
  std::wstring all;
  // The list ends with an empty string: two NULs, or one after an empty list.
  if (!wideCharsOf(value, all) || all.empty() || all.back() != L'\0') return false;
  all.pop_back();
  if (!all.empty() && all.back() == L'\0') all.pop_back();
  strings.clear();
  if (all.empty()) return true;
  for (size_t start = 0;;) {
    size_t end = all.find(L'\0', start);
    strings.push_back(all.substr(start, end - start));
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

std::vector<BYTE> fileBytes(const Value& value) {
  std::wstring chars;
  if (!isTextType(value.type) || !wideCharsOf(value, chars)) return value.data;
  return utf16leOf(chars);
}

std::string hexData(const Value& value) {
  char prefix[24];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
  std::string out = value.type == REG_BINARY ? "hex:" : prefix;
  std::vector<BYTE> bytes = fileBytes(value);
  for (size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", bytes[i]);
    out += byte;
  }
  return out;
}

std::string displayData(const Value& value) {
  std::wstring text;
  if ((value.type == REG_SZ || value.type == REG_EXPAND_SZ) && singleString(value, text))
    return oneLine(narrow(text), false);
  std::vector<std::wstring> strings;
  if (value.type == REG_MULTI_SZ && stringsOf(value, strings)) {
    std::string out;
    for (size_t i = 0; i < strings.size(); ++i)
      out += (i ? "\\0" : "") + oneLine(narrow(strings[i]), false);
    return out;
  }
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, value.data.data(), sizeof number);
    return std::to_string(number);
  }
  return hexData(value);
}

}  // namespace cedevice::reg
