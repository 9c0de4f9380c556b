// The registry writes of the device's programs, as desktop Windows does them, each also noted
// while the calling thread runs a transaction (ce::registry::runInTransaction), so that a
// transaction that fails can undo them. Desktop Windows has transacted registry calls, but
// Wine answers them with ERROR_CALL_NOT_IMPLEMENTED; an undo journal works on both.
#pragma once

LONG CeRegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                       REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                       LPDWORD disposition);
LONG CeRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size);
LONG CeRegDeleteValueW(HKEY key, LPCWSTR name);
LONG CeRegDeleteKeyW(HKEY key, LPCWSTR subKey);

#undef RegCreateKeyEx
#undef RegSetValueEx
#undef RegDeleteValue
#undef RegDeleteKey
#define RegCreateKeyEx CeRegCreateKeyExW
#define RegSetValueEx CeRegSetValueExW
#define RegDeleteValue CeRegDeleteValueW
#define RegDeleteKey CeRegDeleteKeyW
#define RegCreateKeyExW CeRegCreateKeyExW
#define RegSetValueExW CeRegSetValueExW
#define RegDeleteValueW CeRegDeleteValueW
#define RegDeleteKeyW CeRegDeleteKeyW
