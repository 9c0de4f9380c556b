// The value functions: query, set, delete and enumeration.
#include <cstring>

#include "platform/kernel/platform_state.h"
#include "platform/registry/key_handles.h"
#include "platform/registry/key_names.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/value_data.h"

using ce::registry::KeyRecord;
using ce::registry::StoredValue;
using ce::registry::StoreLock;

namespace {

LONG finish(LONG rc) {
  if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
  return rc;
}

// Hands out a value the way both query functions do: the size alone without a buffer,
// ERROR_MORE_DATA (and the size needed) when the buffer is too small.
LONG handOut(const StoredValue& value, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  DWORD size = ce::registry::wideSizeOf(value);
  if (type) *type = value.type;
  if (data && *dataBytes < size) {
    *dataBytes = size;
    return ERROR_MORE_DATA;
  }
  if (data) ce::registry::copyWideForm(value, data);
  if (dataBytes) *dataBytes = size;
  return ERROR_SUCCESS;
}

LONG queryValue(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
  if (data && !dataBytes) return ERROR_INVALID_PARAMETER;
  KeyRecord record;
  if (!ce::registry::keyOfHandle(key, record)) return ERROR_INVALID_HANDLE;
  std::string name;
  if (LONG rc = ce::registry::valueNameOf(valueName, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  StoredValue value;
  if (LONG rc = lock.store().readValue(record.id, name, value)) return rc;
  return handOut(value, type, data, dataBytes);
}

LONG setValue(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD dataBytes) {
  if (!data && dataBytes) return ERROR_INVALID_PARAMETER;
  KeyRecord record;
  if (!ce::registry::keyOfHandle(key, record)) return ERROR_INVALID_HANDLE;
  std::string name;
  if (LONG rc = ce::registry::valueNameOf(valueName, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  static const BYTE nothing = 0;
  return lock.store().writeValue(record.id, name,
                                 ce::registry::storedFormOf(type, data ? data : &nothing,
                                                            dataBytes));
}

LONG deleteValue(HKEY key, LPCWSTR valueName) {
  KeyRecord record;
  if (!ce::registry::keyOfHandle(key, record)) return ERROR_INVALID_HANDLE;
  std::string name;
  if (LONG rc = ce::registry::valueNameOf(valueName, name)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  return lock.store().deleteValue(record.id, name);
}

LONG enumValue(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameChars, LPDWORD type,
               LPBYTE data, LPDWORD dataBytes) {
  if (!valueName || !valueNameChars || (data && !dataBytes)) return ERROR_INVALID_PARAMETER;
  KeyRecord record;
  if (!ce::registry::keyOfHandle(key, record)) return ERROR_INVALID_HANDLE;
  StoreLock lock;
  if (lock.status()) return lock.status();
  std::string name;
  StoredValue value;
  if (LONG rc = lock.store().valueAt(record.id, index, name, value)) return rc;
  std::wstring wide = ce::registry::wideNameOf(name);
  if (wide.size() + 1 > *valueNameChars) return ERROR_MORE_DATA;
  if (LONG rc = handOut(value, type, data, dataBytes)) return rc;
  std::memcpy(valueName, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  *valueNameChars = static_cast<DWORD>(wide.size());
  return ERROR_SUCCESS;
}

}  // namespace

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
