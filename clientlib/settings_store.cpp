#include "clientlib/settings_store.h"

#include <climits>
#include <vector>

namespace clientlib {

std::optional<std::wstring> readSetting(const wchar_t* keyPath, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::optional<std::wstring> result;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()),
                         &bytes) == ERROR_SUCCESS)
      result = std::wstring(buffer.data());
  }
  RegCloseKey(key);
  return result;
}

LONG writeSetting(const wchar_t* keyPath, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (rc == ERROR_SUCCESS) rc = RegFlushKey(key);
  RegCloseKey(key);
  return rc;
}

std::optional<StoredNumber> readNumberSetting(const wchar_t* keyPath, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0, size = 0;
  std::vector<BYTE> data;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    // valueText reads no further than the size: no room for a terminator is needed.
    data.assign(size, 0);
    rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  std::string text;
  if (auto decimal = numericValueText(type, data.data(), size)) {
    text = *decimal;
  } else {
    // Only the digits and signs matter to the number; other characters end it.
    for (wchar_t c : valueText(type, data.data(), size))
      text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return leadingNumber(text.c_str()).value_or(StoredNumber{});
}

LONG writeNumberSetting(const wchar_t* keyPath, const wchar_t* name, const StoredNumber& value) {
  std::string decimal = decimalText(value);
  return writeSetting(keyPath, name, std::wstring(decimal.begin(), decimal.end()));
}

LONG deleteSetting(const wchar_t* keyPath, const wchar_t* name) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegDeleteValueW(key, name);
  if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  if (rc == ERROR_SUCCESS) rc = RegFlushKey(key);
  RegCloseKey(key);
  return rc;
}

std::optional<int> parseDecimal(const std::wstring& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == L'-') negative = true, ++i;
  if (i == text.size()) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace clientlib
