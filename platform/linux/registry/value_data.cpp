// The stored forms of value data.
#include "platform/linux/registry/value_data.h"

#include <cstring>
#include <vector>

#include "platform/linux/kernel/utf8.h"
#include "platform/linux/registry/registry.h"

namespace ce::registry {

namespace {

// Text written by hand into the store may be invalid UTF-8: carry such bytes, do not fail.
long wideLengthOf(const std::string& text) {
  return utf8::toWide(text.data(), text.size(), nullptr, 0, utf8::InvalidBytes::escape);
}

bool asText(const BYTE* data, DWORD size, std::string& text) {
  if (size < sizeof(WCHAR) || size % sizeof(WCHAR) != 0) return false;
  size_t chars = size / sizeof(WCHAR) - 1;
  // The caller's buffer need not be aligned for wchar_t: copied only when it is not, as text
  // may be long and a copy takes four bytes a character.
  std::vector<WCHAR> copy;
  const WCHAR* wide = reinterpret_cast<const WCHAR*>(data);
  if (reinterpret_cast<uintptr_t>(data) % alignof(WCHAR) != 0) {
    copy.resize(chars + 1);
    std::memcpy(copy.data(), data, size);
    wide = copy.data();
  }
  if (wide[chars] != L'\0') return false;
  for (size_t i = 0; i < chars; ++i)
    if (wide[i] == L'\0') return false;
  long n = utf8::fromWide(wide, chars, nullptr, 0, utf8::InvalidChars::fail);
  if (n < 0) return false;
  text.resize(static_cast<size_t>(n));
  utf8::fromWide(wide, chars, text.data(), text.size(), utf8::InvalidChars::fail);
  return true;
}

}  // namespace

StoredValue storedFormOf(DWORD type, const BYTE* data, DWORD size) {
  StoredValue value;
  value.type = type;
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, data, sizeof number);
    value.form = StoredValue::Form::integer;
    value.integer = number;
    return value;
  }
  if (type == REG_SZ && asText(data, size, value.bytes)) {
    value.form = StoredValue::Form::text;
    return value;
  }
  value.form = StoredValue::Form::bytes;
  value.bytes.assign(reinterpret_cast<const char*>(data), size);
  return value;
}

DWORD wideSizeOf(const StoredValue& value) {
  switch (value.form) {
    case StoredValue::Form::text:
      return static_cast<DWORD>((wideLengthOf(value.bytes) + 1) * sizeof(WCHAR));
    case StoredValue::Form::integer:
      return sizeof(DWORD);
    case StoredValue::Form::bytes:
      break;
  }
  return static_cast<DWORD>(value.bytes.size());
}

void copyWideForm(const StoredValue& value, BYTE* out) {
  switch (value.form) {
    case StoredValue::Form::text: {
      std::vector<WCHAR> wide(value.bytes.size() + 1, L'\0');
      long n = utf8::toWide(value.bytes.data(), value.bytes.size(), wide.data(), wide.size(),
                            utf8::InvalidBytes::escape);
      std::memcpy(out, wide.data(), (static_cast<size_t>(n) + 1) * sizeof(WCHAR));
      return;
    }
    case StoredValue::Form::integer: {
      auto number = static_cast<DWORD>(value.integer);
      std::memcpy(out, &number, sizeof number);
      return;
    }
    case StoredValue::Form::bytes:
      if (!value.bytes.empty()) std::memcpy(out, value.bytes.data(), value.bytes.size());
      return;
  }
}

}  // namespace ce::registry
