// The device registry: HKEY_LOCAL_MACHINE and the Reg* functions the listener, the client
// library and the device tool use, with their Win32 signatures. Results are error codes
// (ERROR_SUCCESS = 0); on failure the same code is also left in GetLastError.
//
// Behaviour copied from the device: key and value names compare upper-cased, one 16-bit
// character at a time ("ß" is not "ẞ", "ı" is not "I"), and keep the case they were created
// with; a key name holds any character but '\' (a '/' is an ordinary character); subkeys
// enumerate in the order of their upper-cased names, values in the order they were made;
// RegDeleteKeyW removes the whole subtree; the access mask is ignored. Lengths are counted in
// the device's 16-bit characters (one beyond the BMP counts two): key names up to 255, value
// names up to 16,383. A path that starts with '\' fails with ERROR_BAD_PATHNAME; empty
// components after the first name are skipped.
#pragma once

#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/wintypes.h"

typedef DWORD REGSAM;
typedef HKEY* PHKEY;
typedef FILETIME* PFILETIME;

#ifndef CE_SECURITY_ATTRIBUTES_DEFINED
#define CE_SECURITY_ATTRIBUTES_DEFINED
struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
#endif

// The only root served; other predefined keys give ERROR_INVALID_HANDLE.
#define HKEY_LOCAL_MACHINE ((HKEY)(UINT_PTR)((LONG)0x80000002))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

// Longest key name and longest value name, in the device's 16-bit characters.
#define CE_REGISTRY_MAX_NAME 255
#define CE_REGISTRY_MAX_VALUE_NAME 16383

#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCloseKey(HKEY key);
// Removes the key with every subkey and value below it; "" removes `key` itself (never
// HKEY_LOCAL_MACHINE: ERROR_ACCESS_DENIED).
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// Durable on return: every write is already committed to disk when its call returns.
LONG RegFlushKey(HKEY key);
// Counts and maximum lengths in characters (names) and bytes (data); classes are always empty
// and last-write times zero.
LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classChars, LPDWORD reserved,
                      LPDWORD subKeys, LPDWORD maxSubKeyChars, LPDWORD maxClassChars,
                      LPDWORD values, LPDWORD maxValueNameChars, LPDWORD maxValueBytes,
                      LPDWORD securityDescriptorBytes, PFILETIME lastWriteTime);
// Subkeys in the order of their upper-cased names; ERROR_NO_MORE_ITEMS past the end. A walk
// by ascending index costs the same per step however long the key is.
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classChars, PFILETIME lastWriteTime);

// A null or empty value name is the key's default value. A REG_SZ, REG_EXPAND_SZ or
// REG_MULTI_SZ stored without its terminating NUL is handed out with one, and its size counts
// it: ERROR_MORE_DATA when the buffer holds the data but not the added NUL.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataBytes);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataBytes);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Values in creation order; ERROR_NO_MORE_ITEMS past the end. When the name does not fit,
// ERROR_MORE_DATA with the type and size given and nothing written; when the data does not,
// ERROR_MORE_DATA with the name written as well.
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameChars,
                   LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataBytes);
