// The value functions: query, set, delete and enumeration.
#include <cstring>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/registry/key_handles.h"
#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/registry.h"
#include "platform/linux/registry/registry_store.h"
#include "platform/linux/registry/text_value.h"
#include "platform/linux/registry/value_data.h"
#include "platform/linux/kernel/utf8.h"

using ce::registry::StoredName;
using ce::registry::StoredValue;
using ce::registry::StoreLock;

namespace {

LONG finish(LONG rc) {
  if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
  return rc;
}

// A value as the caller receives it: its size as stored, and whether a NUL may go after it (a
// string type stored without its terminator). Windows writes that NUL when the buffer has room
// for it but never counts it, so a reader that trusts the size still sees the value's own
// bytes, and one that sized its buffer for the data alone still succeeds.
struct HandedOut {
  DWORD type = REG_NONE;
  DWORD size = 0;
  bool unterminated = false;
};

HandedOut measure(const StoredValue& value) {
  HandedOut out;
  out.type = value.type;
  out.size = ce::registry::wideSizeOf(value);
  bool stringType = value.type == REG_SZ || value.type == REG_EXPAND_SZ ||
                    value.type == REG_MULTI_SZ;
  if (stringType && value.form == StoredValue::Form::bytes && out.size > 0 &&
      out.size % sizeof(WCHAR) == 0) {
    WCHAR last = 0;
    std::memcpy(&last, value.bytes.data() + out.size - sizeof(WCHAR), sizeof last);
    out.unterminated = last != L'\0';
  }
  return out;
}

// Hands out a value the way both query functions do: the size alone without a buffer,
// ERROR_MORE_DATA (and the size needed) when the buffer is too small.
LONG handOut(const StoredValue& value, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  HandedOut out = measure(value);
  if (type) *type = out.type;
  if (data && *dataBytes < out.size) {
    *dataBytes = out.size;
    return ERROR_MORE_DATA;
  }
  if (data) {
    ce::registry::copyWideForm(value, data);
    if (out.unterminated && *dataBytes >= out.size + sizeof(WCHAR))
      std::memset(data + out.size, 0, sizeof(WCHAR));
  }
  if (dataBytes) *dataBytes = out.size;
  return ERROR_SUCCESS;
}

// The key and the stored name a value call gives. A name longer than any value can have
// names no value when one is looked up, and is refused when one is set.
LONG valueOf(HKEY key, LPCWSTR valueName, bool lookingUp, long long& id, StoredName& name) {
  if (!ce::registry::keyOfHandle(key, id)) return ERROR_INVALID_HANDLE;
  bool tooLong = false;
  if (LONG rc = ce::registry::valueNameOf(valueName, name, tooLong))
    return tooLong && lookingUp ? ERROR_FILE_NOT_FOUND : rc;
  return ERROR_SUCCESS;
}

LONG queryValue(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  long long id = 0;
  StoredName name;
  if (LONG rc = valueOf(key, valueName, true, id, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  StoredValue value;
  if (LONG rc = lock.store().readValue(id, name, value)) return rc;
  return handOut(value, type, data, dataBytes);
}

LONG setValue(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD dataBytes) {
  if (!data && dataBytes) return ERROR_NOACCESS;
  long long id = 0;
  StoredName name;
  if (LONG rc = valueOf(key, valueName, false, id, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  static const BYTE nothing = 0;
  return lock.store().writeValue(id, name,
                                 ce::registry::storedFormOf(type, data ? data : &nothing,
                                                            dataBytes));
}

LONG deleteValue(HKEY key, LPCWSTR valueName) {
  long long id = 0;
  StoredName name;
  if (LONG rc = valueOf(key, valueName, true, id, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  return lock.store().deleteValue(id, name);
}

LONG enumValue(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameChars, LPDWORD type,
               LPBYTE data, LPDWORD dataBytes) {
  if (!valueName || !valueNameChars || (data && !dataBytes)) return ERROR_INVALID_PARAMETER;
  long long id = 0;
  std::shared_ptr<ce::registry::Walks> walks;
  if (!ce::registry::keyOfHandle(key, id, &walks)) return ERROR_INVALID_HANDLE;
  StoreLock lock;
  if (lock.status()) return lock.status();
  const ce::registry::WalkRow* row = nullptr;
  if (LONG rc = lock.store().valueAt(id, index, walks->values, row)) return rc;
  std::wstring wide = ce::registry::wideNameOf(row->name);
  // The device gives the type and size even when the name does not fit, and the name even
  // when the data does not.
  if (wide.size() + 1 > *valueNameChars) {
    HandedOut out = measure(row->value);
    if (type) *type = out.type;
    if (dataBytes) *dataBytes = out.size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(valueName, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  *valueNameChars = static_cast<DWORD>(wide.size());
  return handOut(row->value, type, data, dataBytes);
}

}  // namespace

namespace ce::registry {

LONG setTextValue(HKEY key, LPCWSTR valueName, std::string_view utf8) {
  // The form storedFormOf gives the same text as wide characters: a NUL, or bytes that are
  // not UTF-8, would make it keep bytes instead.
  if (utf8.find('\0') != std::string_view::npos ||
      ce::utf8::toWide(utf8.data(), utf8.size(), nullptr, 0, ce::utf8::InvalidBytes::fail) < 0)
    return finish(ERROR_INVALID_PARAMETER);
  long long id = 0;
  StoredName name;
  if (LONG rc = valueOf(key, valueName, false, id, name)) return finish(rc);
  StoreLock lock;
  if (lock.status()) return finish(lock.status());
  return finish(lock.store().writeText(id, name, utf8));
}

}  // namespace ce::registry

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataBytes) {
  long long forced;
  if (ce::failPointHit("RegQueryValueExW", forced)) return static_cast<LONG>(forced);
  return finish(queryValue(key, valueName, type, data, dataBytes));
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataBytes) {
  long long forced;
  if (ce::failPointHit("RegSetValueExW", forced)) return static_cast<LONG>(forced);
  return finish(setValue(key, valueName, type, data, dataBytes));
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  long long forced;
  if (ce::failPointHit("RegDeleteValueW", forced)) return static_cast<LONG>(forced);
  return finish(deleteValue(key, valueName));
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameChars, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  long long forced;
  if (ce::failPointHit("RegEnumValueW", forced)) return static_cast<LONG>(forced);
  return finish(enumValue(key, index, valueName, valueNameChars, type, data, dataBytes));
}
