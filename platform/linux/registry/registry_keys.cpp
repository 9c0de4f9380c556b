// The key functions: create, open, close, delete, flush, information and enumeration.
#include <cstring>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/registry/key_handles.h"
#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/registry.h"
#include "platform/linux/registry/registry_store.h"

using ce::registry::StoredName;
using ce::registry::StoreLock;

namespace {

// Registry functions return their error; the device leaves it in the last error as well.
LONG finish(LONG rc) {
  if (rc != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(rc));
  return rc;
}

void clearClassAndTime(LPWSTR keyClass, LPDWORD classChars, PFILETIME lastWriteTime) {
  if (keyClass && classChars && *classChars > 0) keyClass[0] = L'\0';
  if (classChars) *classChars = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
}

LONG createKey(HKEY key, LPCWSTR subKey, PHKEY result, LPDWORD disposition) {
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  long long base = 0;
  if (!ce::registry::keyOfHandle(key, base)) return ERROR_INVALID_HANDLE;
  std::vector<StoredName> names;
  if (LONG rc = ce::registry::splitKeyPath(subKey, names)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  long long opened = 0;
  bool created = false;
  if (LONG rc = lock.store().createKeys(base, names, opened, created)) return rc;
  *result = ce::registry::openKeyHandle(opened);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG openKey(HKEY key, LPCWSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  long long base = 0;
  if (!ce::registry::keyOfHandle(key, base)) return ERROR_INVALID_HANDLE;
  std::vector<StoredName> names;
  if (LONG rc = ce::registry::splitKeyPath(subKey, names)) return rc;
  StoreLock lock;
  if (lock.status()) return lock.status();
  long long opened = 0;
  if (LONG rc = lock.store().findKey(base, names, opened)) return rc;
  *result = ce::registry::openKeyHandle(opened);
  return ERROR_SUCCESS;
}

LONG deleteKey(HKEY key, LPCWSTR subKey) {
  long long base = 0;
  if (!ce::registry::keyOfHandle(key, base)) return ERROR_INVALID_HANDLE;
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::vector<StoredName> names;
  if (LONG rc = ce::registry::splitKeyPath(subKey, names)) return rc;
  // "" names the key itself, which for HKEY_LOCAL_MACHINE would be everything.
  if (names.empty() && base == ce::registry::rootKeyId) return ERROR_ACCESS_DENIED;
  StoreLock lock;
  if (lock.status()) return lock.status();
  long long doomed = 0;
  if (LONG rc = lock.store().findKey(base, names, doomed)) return rc;
  return lock.store().deleteTree(doomed);
}

LONG flushKey(HKEY key) {
  long long id = 0;
  if (!ce::registry::keyOfHandle(key, id)) return ERROR_INVALID_HANDLE;
  // Every commit is already on disk (see registry_store.cpp); inside runInTransaction the
  // writes become durable when it commits.
  StoreLock lock;
  return lock.status();
}

LONG queryInfo(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD subKeys,
               LPDWORD maxSubKeyChars, LPDWORD maxClassChars, LPDWORD values,
               LPDWORD maxValueNameChars, LPDWORD maxValueBytes, LPDWORD securityBytes,
               PFILETIME lastWriteTime) {
  long long id = 0;
  if (!ce::registry::keyOfHandle(key, id)) return ERROR_INVALID_HANDLE;
  StoreLock lock;
  if (lock.status()) return lock.status();
  ce::registry::KeyCounts counts;
  if (LONG rc = lock.store().countKey(id, counts)) return rc;
  clearClassAndTime(keyClass, classChars, lastWriteTime);
  if (subKeys) *subKeys = counts.subKeys;
  if (maxSubKeyChars) *maxSubKeyChars = counts.maxSubKeyChars;
  if (maxClassChars) *maxClassChars = 0;
  if (values) *values = counts.values;
  if (maxValueNameChars) *maxValueNameChars = counts.maxValueNameChars;
  if (maxValueBytes) *maxValueBytes = counts.maxValueBytes;
  if (securityBytes) *securityBytes = 0;
  return ERROR_SUCCESS;
}

LONG enumKey(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPWSTR keyClass,
             LPDWORD classChars, PFILETIME lastWriteTime) {
  if (!name || !nameChars) return ERROR_INVALID_PARAMETER;
  long long id = 0;
  std::shared_ptr<ce::registry::Walks> walks;
  if (!ce::registry::keyOfHandle(key, id, &walks)) return ERROR_INVALID_HANDLE;
  StoreLock lock;
  if (lock.status()) return lock.status();
  const ce::registry::WalkRow* row = nullptr;
  if (LONG rc = lock.store().subkeyAt(id, index, walks->subkeys, row)) return rc;
  std::wstring wide = ce::registry::wideNameOf(row->name);
  if (wide.size() + 1 > *nameChars) return ERROR_MORE_DATA;
  std::memcpy(name, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  *nameChars = static_cast<DWORD>(wide.size());
  clearClassAndTime(keyClass, classChars, lastWriteTime);
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  long long forced;
  if (ce::failPointHit("RegCreateKeyExW", forced)) return static_cast<LONG>(forced);
  return finish(createKey(key, subKey, result, disposition));
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  long long forced;
  if (ce::failPointHit("RegOpenKeyExW", forced)) return static_cast<LONG>(forced);
  return finish(openKey(key, subKey, result));
}

LONG RegCloseKey(HKEY key) {
  long long forced;
  if (ce::failPointHit("RegCloseKey", forced)) return static_cast<LONG>(forced);
  return finish(ce::registry::closeKeyHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  long long forced;
  if (ce::failPointHit("RegDeleteKeyW", forced)) return static_cast<LONG>(forced);
  return finish(deleteKey(key, subKey));
}

LONG RegFlushKey(HKEY key) {
  long long forced;
  if (ce::failPointHit("RegFlushKey", forced)) return static_cast<LONG>(forced);
  return finish(flushKey(key));
}

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD,
                      LPDWORD subKeys, LPDWORD maxSubKeyChars, LPDWORD maxClassChars,
                      LPDWORD values, LPDWORD maxValueNameChars, LPDWORD maxValueBytes,
                      LPDWORD securityDescriptorBytes, PFILETIME lastWriteTime) {
  long long forced;
  if (ce::failPointHit("RegQueryInfoKeyW", forced)) return static_cast<LONG>(forced);
  return finish(queryInfo(key, keyClass, classChars, subKeys, maxSubKeyChars, maxClassChars,
                          values, maxValueNameChars, maxValueBytes, securityDescriptorBytes,
                          lastWriteTime));
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD,
                   LPWSTR keyClass, LPDWORD classChars, PFILETIME lastWriteTime) {
  long long forced;
  if (ce::failPointHit("RegEnumKeyExW", forced)) return static_cast<LONG>(forced);
  return finish(enumKey(key, index, name, nameChars, keyClass, classChars, lastWriteTime));
}
