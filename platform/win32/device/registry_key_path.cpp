// Full key names come from ntdll (NtQueryKey's KeyNameInformation, NtOpenKey): the registry
// functions of advapi32 name keys only relative to a handle. They are looked up at run time,
// as mingw-w64 declares them only for drivers, and resolved once per process.
#include "platform/win32/device/registry_key_path.h"

#include <winternl.h>

#include <cstring>
#include <vector>

namespace ce::win32 {

namespace {

using NtQueryKeyCall = NTSTATUS(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
using NtOpenKeyCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
using StatusToErrorCall = ULONG(NTAPI*)(NTSTATUS);

// KEY_INFORMATION_CLASS's KeyNameInformation, and the start of its answer.
constexpr int kKeyNameInformation = 3;
struct KeyNameHeader {
  ULONG nameLength;  // in bytes, no terminator follows
};

constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

struct NtRegistry {
  NtQueryKeyCall queryKey = nullptr;
  NtOpenKeyCall openKey = nullptr;
  StatusToErrorCall statusToError = nullptr;

  NtRegistry() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return;
    queryKey = reinterpret_cast<NtQueryKeyCall>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryKey")));
    openKey = reinterpret_cast<NtOpenKeyCall>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenKey")));
    statusToError = reinterpret_cast<StatusToErrorCall>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
  }
  bool usable() const { return queryKey && openKey && statusToError; }
  LONG error(NTSTATUS status) const { return static_cast<LONG>(statusToError(status)); }
};

const NtRegistry& ntRegistry() {
  static const NtRegistry calls;
  return calls;
}

// HKEY_CLASSES_ROOT to HKEY_DYN_DATA: pseudo handles that only advapi32 understands.
bool predefined(HKEY key) {
  auto value = reinterpret_cast<ULONG_PTR>(key);
  return (value & ~static_cast<ULONG_PTR>(0xF)) == reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
}

}  // namespace

LONG keyFullName(HKEY key, std::wstring& name) {
  const NtRegistry& nt = ntRegistry();
  if (!nt.usable()) return ERROR_CALL_NOT_IMPLEMENTED;
  OwnedKey real;
  if (predefined(key)) {
    // An empty name gives a real handle to the key the predefined one stands for here
    // (HKEY_LOCAL_MACHINE as redirected); RegOpenKeyExW would hand back the pseudo handle.
    HKEY opened = nullptr;
    LONG rc = RegCreateKeyExW(key, L"", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr, &opened, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (opened == key) return ERROR_INVALID_HANDLE;
    real.reset(opened);
    key = opened;
  }
  std::vector<BYTE> buffer(512);
  for (;;) {
    ULONG needed = 0;
    NTSTATUS status = nt.queryKey(key, kKeyNameInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
    if ((status == kBufferOverflow || status == kBufferTooSmall) && needed > buffer.size()) {
      buffer.resize(needed);
      continue;
    }
    if (status < 0) return nt.error(status);
    KeyNameHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    if (header.nameLength > buffer.size() - sizeof header) return ERROR_INVALID_DATA;
    name.assign(reinterpret_cast<const WCHAR*>(buffer.data() + sizeof header),
                header.nameLength / sizeof(WCHAR));
    return ERROR_SUCCESS;
  }
}

LONG openKeyByFullName(const std::wstring& name, REGSAM access, OwnedKey& key) {
  const NtRegistry& nt = ntRegistry();
  if (!nt.usable()) return ERROR_CALL_NOT_IMPLEMENTED;
  // UNICODE_STRING counts bytes in 16 bits.
  if (name.empty() || name.size() > 0x7FFF) return ERROR_INVALID_PARAMETER;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE opened = nullptr;
  NTSTATUS status = nt.openKey(&opened, access, &attributes);
  if (status < 0) return nt.error(status);
  key.reset(static_cast<HKEY>(opened));
  return ERROR_SUCCESS;
}

}  // namespace ce::win32
