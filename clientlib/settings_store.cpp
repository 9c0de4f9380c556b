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

std::optional<NumberSetting> readNumberSetting(const wchar_t* keyPath, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  NumberSetting setting;
  std::vector<BYTE> data;
  LONG rc = RegQueryValueExW(key, name, nullptr, &setting.type, nullptr, &setting.size);
  if (rc == ERROR_SUCCESS) {
    // Room for a terminator the stored text may lack.
    data.assign(setting.size + sizeof(wchar_t), 0);
    rc = RegQueryValueExW(key, name, nullptr, &setting.type, data.data(), &setting.size);
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  std::string text;
  if (auto decimal = numericValueText(setting.type, data.data(), setting.size)) {
    text = *decimal;
  } else if (setting.type == REG_SZ) {
    // Only the digits and signs matter to the number; other characters end it.
    for (const auto* c = reinterpret_cast<const wchar_t*>(data.data()); *c; ++c)
      text += *c < 0x80 ? static_cast<char>(*c) : '?';
  } else {
    return std::nullopt;
  }
  setting.number = leadingNumber(text.c_str()).value_or(StoredNumber{});
  return setting;
}

LONG writeNumberSetting(const wchar_t* keyPath, const wchar_t* name, const NumberSetting& value) {
  std::string decimal = decimalText(value.number);
  std::wstring text(decimal.begin(), decimal.end());
  auto number = numericValueData(value.type, value.size, text.c_str());
  if (!number) return writeSetting(keyPath, name, text);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, name, 0, value.type, number->data(),
                      static_cast<DWORD>(number->size()));
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
