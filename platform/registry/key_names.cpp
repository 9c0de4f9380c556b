// Name checks and the wide <-> UTF-8 mapping of key paths and value names.
#include "platform/registry/key_names.h"

#include <cwchar>

#include "platform/kernel/utf8.h"
#include "platform/registry/registry.h"

namespace ce::registry {

namespace {

LONG utf8Of(const wchar_t* text, size_t size, std::string& out) {
  if (size > CE_REGISTRY_MAX_NAME) return ERROR_INVALID_PARAMETER;
  long n = utf8::fromWide(text, size, nullptr, 0, utf8::InvalidChars::fail);
  if (n < 0) return ERROR_INVALID_PARAMETER;
  out.resize(static_cast<size_t>(n));
  utf8::fromWide(text, size, out.data(), out.size(), utf8::InvalidChars::fail);
  return ERROR_SUCCESS;
}

}  // namespace

LONG splitKeyPath(LPCWSTR subKey, std::vector<std::string>& names) {
  names.clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  const wchar_t* start = subKey;
  for (;;) {
    const wchar_t* end = std::wcschr(start, L'\\');
    size_t size = end ? static_cast<size_t>(end - start) : std::wcslen(start);
    // One trailing separator is tolerated ("Software\abc\" is the key abc), as the
    // configuration nodes build such paths for a context without a name.
    if (size == 0 && !end && !names.empty()) return ERROR_SUCCESS;
    if (size == 0) return ERROR_INVALID_PARAMETER;
    std::string name;
    if (LONG rc = utf8Of(start, size, name)) return rc;
    names.push_back(std::move(name));
    if (!end) return ERROR_SUCCESS;
    start = end + 1;
  }
}

LONG valueNameOf(LPCWSTR name, std::string& utf8) {
  utf8.clear();
  if (!name) return ERROR_SUCCESS;
  return utf8Of(name, std::wcslen(name), utf8);
}

std::string joinKeyPath(const std::string& base, const std::vector<std::string>& names) {
  std::string path = base;
  for (const auto& name : names) {
    if (!path.empty()) path += '\\';
    path += name;
  }
  return path;
}

std::wstring wideNameOf(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  long n = utf8::toWide(utf8.data(), utf8.size(), out.data(), out.size(),
                        utf8::InvalidBytes::escape);
  out.resize(static_cast<size_t>(n < 0 ? 0 : n));
  return out;
}

}  // namespace ce::registry
