#include "tests/platform/registry/registry_test_helpers.h"

#include <vector>

namespace ce::test {

HKEY createKey(const wchar_t* path, DWORD* disposition) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      disposition) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

LONG openKey(const wchar_t* path, HKEY& key) {
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
}

bool keyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (openKey(path, key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

LONG setString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

std::wstring getString(HKEY key, const wchar_t* name, LONG* rc) {
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
  std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, L'\0');
  if (result == ERROR_SUCCESS)
    result = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                              &size);
  if (rc) *rc = result;
  return result == ERROR_SUCCESS ? std::wstring(buffer.data()) : std::wstring();
}

std::wstring subkeysOf(HKEY key) {
  std::wstring all;
  for (DWORD i = 0;; ++i) {
    WCHAR name[512];
    DWORD chars = 512;
    if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return all;
    if (!all.empty()) all += L",";
    all += name;
  }
}

}  // namespace ce::test
