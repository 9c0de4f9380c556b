// Configuration nodes on the device registry.
#include "config/device_management_node.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "config/stored_number.h"
#include "textcore/conversions.h"
#include "platform/windows.h"

namespace {

// The longest key name the registry enumerates into a fixed buffer.
constexpr DWORD childNameChars = 512;
// A value that keeps growing while it is read is given up after this many attempts.
constexpr int readAttempts = 3;

// Owns a key handle for one operation.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  // opens the key, creating every missing part of its path
  bool create(const wchar_t* path) {
    return path && RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key_, nullptr) == ERROR_SUCCESS && key_;
  }
  // opens an existing key only
  bool open(const wchar_t* path) {
    return path && RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) ==
                       ERROR_SUCCESS && key_;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Owns a text made by the conversions.
template <typename Char>
struct Converted {
  explicit Converted(Char* text) : text(text) {}
  Converted(const Converted&) = delete;
  Converted& operator=(const Converted&) = delete;
  ~Converted() { delete[] text; }
  Char* text;
};

char* emptyText() {
  char* text = new char[1];
  text[0] = '\0';
  return text;
}

// A key path as the error texts carry text: UTF-8, converted here rather than by "%ls", which
// the C library prints through the locale and cuts at the first character the locale cannot
// convert (all of them but ASCII where setlocale has failed, as under Wine).
std::string printable(const wchar_t* keyPath) {
  if (!keyPath) return "";
  Converted<char> text(toMultibyte(keyPath));
  return text.text ? text.text : "";
}

// The value's type and data, with room for a terminator after whatever the data holds, even
// an odd byte count; false when missing or unreadable. One query serves the short values
// that settings are; a longer one is asked for again at its size.
bool queryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<WCHAR>& data,
                DWORD& size) {
  size = 64 * sizeof(WCHAR);
  for (int attempt = 0; attempt <= readAttempts; ++attempt) {
    data.assign(size / sizeof(WCHAR) + 2, L'\0');
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                               &size);
    if (rc == ERROR_SUCCESS) return true;
    // Longer than the room given, or made longer by another process since: ask again.
    if (rc != ERROR_MORE_DATA) return false;
  }
  return false;
}

}  // namespace

DeviceManagementNode::DeviceManagementNode(const char* context, const char* name)
    : ManagementNode(context, name), keyPath(nullptr) {
  buildKeyPath();
}

DeviceManagementNode::DeviceManagementNode(const char* fullContext)
    : ManagementNode(fullContext), keyPath(nullptr) {
  buildKeyPath();
}

DeviceManagementNode::~DeviceManagementNode() { delete[] keyPath; }

ArrayElement* DeviceManagementNode::clone() const {
  auto* copy = new (std::nothrow) DeviceManagementNode(context, name);
  if (!copy) return nullptr;
  for (int i = 0; i < children.size(); ++i)
    copy->appendChild(*static_cast<ManagementNode*>(children.get(i)));
  return copy;
}

void DeviceManagementNode::buildKeyPath() {
  delete[] keyPath;
  keyPath = nullptr;
  // A node built without a '/' has neither: it stands for no key, and never for Software.
  if (!context || !name) return;
  StringBuffer escaped(name);
  escaped.replaceAll("/", "//");
  StringBuffer text;
  // A context that already names Software is taken as the whole path.
  if (std::strstr(context, "Software"))
    text.sprintf("%s/%s", context, escaped.c_str());
  else
    text.sprintf("%s/%s/%s", "Software", context, escaped.c_str());
  keyPath = contextToKeyPath(text.c_str());
}

wchar_t* DeviceManagementNode::contextToKeyPath(const char* text) {
  if (!text) return nullptr;
  std::string narrow;
  narrow.reserve(std::strlen(text));
  for (const char* p = text; *p; ++p) {
    if (p[0] == '/' && p[1] == '/') {
      narrow += '/';
      ++p;
    } else {
      narrow += *p == '/' ? '\\' : *p;
    }
  }
  return toWideChar(narrow.c_str());
}

int DeviceManagementNode::storedChildCount() {
  OpenKey key;
  if (!key.open(keyPath)) return 0;
  DWORD subKeys = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return 0;
  return static_cast<int>(subKeys);
}

char** DeviceManagementNode::readChildNames() {
  OpenKey key;
  if (!key.create(keyPath)) {
    setLastError(10000, "Invalid context path: %s", printable(keyPath).c_str());
    return nullptr;
  }
  DWORD count = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    setLastError(static_cast<int32_t>(GetLastError()), "Error enumerating children nodes");
    return nullptr;
  }
  // One entry more than counted, always null: a reader that counted separately, while another
  // process changed the key, still finds the end instead of running past it.
  char** names = new char*[count + 1]();
  for (DWORD i = 0; i < count; ++i) {
    WCHAR buffer[childNameChars] = {};
    DWORD chars = childNameChars;
    LONG rc = RegEnumKeyExW(key.get(), i, buffer, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      if (rc != ERROR_NO_MORE_ITEMS)
        setLastError(static_cast<int32_t>(GetLastError()), "Error enumerating children nodes");
      break;
    }
    names[i] = toMultibyte(buffer);
    if (!names[i]) break;
  }
  return names;
}

char* DeviceManagementNode::readValue(const char* valueName) {
  // A name that does not convert would otherwise read the default value.
  Converted<wchar_t> wideName(toWideChar(valueName));
  if (!wideName.text) return emptyText();
  OpenKey key;
  if (!key.create(keyPath)) {
    setLastError(10000, "Invalid context path: %s", printable(keyPath).c_str());
    return emptyText();
  }
  DWORD type = 0, size = 0;
  std::vector<WCHAR> data;
  if (!queryValue(key.get(), wideName.text, type, data, size) || size == 0) return emptyText();
  // A REG_DWORD or REG_QWORD read as text would be its raw bytes; its decimal text is what every
  // reader means. Any other type is taken as UTF-16 text, as the client reads it.
  if (auto decimal = numericValueText(type, data.data(), size)) {
    char* text = new char[decimal->size() + 1];
    std::memcpy(text, decimal->c_str(), decimal->size() + 1);
    return text;
  }
  std::wstring wide = valueText(type, data.data(), size);
  char* text = toMultibyte(wide.c_str());
  return text ? text : emptyText();
}

void DeviceManagementNode::writeValue(const char* valueName, const char* value) {
  if (!valueName || !value) return;
  // Converted first, so that text that cannot be stored changes nothing, not even the keys.
  Converted<wchar_t> wideName(toWideChar(valueName));
  Converted<wchar_t> wideValue(toWideChar(value));
  if (!wideName.text || !wideValue.text) {
    // The code the platform gives text that is not valid in the encoding.
    setLastError(ERROR_NO_UNICODE_TRANSLATION, "Could not convert value %s of %s", valueName,
                 printable(keyPath).c_str());
    return;
  }
  OpenKey key;
  if (!key.create(keyPath)) {
    setLastError(10000, "Invalid context path: %s", printable(keyPath).c_str());
    return;
  }
  // Always text, whatever type the value had: a number another program stored as a REG_DWORD
  // or REG_QWORD reads back from its decimal text with every bit.
  const auto* bytes = reinterpret_cast<const BYTE*>(wideValue.text);
  std::vector<BYTE> data(bytes, bytes + (std::wcslen(wideValue.text) + 1) * sizeof(WCHAR));
  DWORD storedType = REG_NONE, storedSize = 0;
  std::vector<WCHAR> stored;
  bool exists = queryValue(key.get(), wideName.text, storedType, stored, storedSize);
  // Writing what is stored already would cost a durable commit and change nothing: a burst of
  // changes writes the same list over and over.
  if (exists && storedType == REG_SZ && storedSize == data.size() &&
      std::memcmp(stored.data(), data.data(), data.size()) == 0)
    return;
  LONG rc = RegSetValueExW(key.get(), wideName.text, 0, REG_SZ, data.data(),
                           static_cast<DWORD>(data.size()));
  if (rc != ERROR_SUCCESS) {
    // Nobody can act on it here, but a lost write should leave a trace.
    setLastError(rc, "Could not write value %s of %s", valueName, printable(keyPath).c_str());
    return;
  }
  if (flushAfterWrite) RegFlushKey(key.get());
}

bool DeviceManagementNode::hasValue(const char* valueName) {
  Converted<wchar_t> wideName(toWideChar(valueName));
  OpenKey key;
  if (!wideName.text || !key.open(keyPath)) return false;
  return RegQueryValueExW(key.get(), wideName.text, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

int DeviceManagementNode::deleteChild(const char* childName) {
  if (!childName) return 0;
  if (!keyPath) {
    setLastError(10000, "Invalid context path: %s", printable(keyPath).c_str());
    return ERROR_FILE_NOT_FOUND;
  }
  // The child's name is one key name: its '/' stays literal. Running the whole path through
  // contextToKeyPath again would turn it into a separator and delete another key.
  std::wstring path = keyPath;
  // A node without a name ("abc/") already ends with the separator.
  if (path.empty() || path.back() != L'\\') path += L'\\';
  Converted<wchar_t> wideName(toWideChar(childName));
  if (!wideName.text || !*wideName.text || std::wcschr(wideName.text, L'\\')) {
    // Not a child's name: "" would name this node itself, a '\' a key further down.
    setLastError(10002, "Could not delete node: %s%s", printable(path.c_str()).c_str(),
                 childName);
    return ERROR_INVALID_PARAMETER;
  }
  path += wideName.text;
  LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  if (rc != ERROR_SUCCESS)
    setLastError(10002, "Could not delete node: %s", printable(path.c_str()).c_str());
  return rc;
}
