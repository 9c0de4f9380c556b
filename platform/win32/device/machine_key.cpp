#include "platform/win32/device/machine_key.h"

#include <cstdio>
#include <string>

#include "platform/win32/objectstore/object_store.h"

namespace ce::win32 {

std::wstring machineKeyPath(const std::wstring& system) {
  return L"Software\\CeDevice\\" + storeObjectName(system, L"machine");
}

std::wstring undoJournalKeyPath(const std::wstring& system) {
  return L"Software\\CeDevice\\" + storeObjectName(system, L"registry-journal");
}

LONG redirectMachineKey() {
  std::wstring system;
  if (DWORD error = storeFolder(system); error != ERROR_SUCCESS) return static_cast<LONG>(error);
  // The store folder's full path names the device, as it names its stores' locks.
  std::wstring path = machineKeyPath(system);
  // The key outlives the device home, which the registry of the Linux side lives in: a home
  // without its marker is a new device, and a key left by an earlier one of that path (a
  // folder removed and made again) is not its registry. Nor is that one's undo journal, which
  // the new device's first transaction would otherwise take back into the new registry.
  std::wstring marker = system + L"\\machine-key";
  if (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
    for (const std::wstring& earlier : {path, undoJournalKeyPath(system)}) {
      LONG cleared = RegDeleteTreeW(HKEY_CURRENT_USER, earlier.c_str());
      if (cleared != ERROR_SUCCESS && cleared != ERROR_FILE_NOT_FOUND) return cleared;
    }
    std::string name(path.begin(), path.end());  // ASCII: a fixed prefix and a hash
    if (DWORD error = replaceWholeFile(marker, name + "\n"); error != ERROR_SUCCESS)
      return static_cast<LONG>(error);
  }
  HKEY machine = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &machine, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
  // The override holds its own reference to the key.
  RegCloseKey(machine);
  return rc;
}

namespace {

// Runs before main() in every program linked with the device family, and before any test.
struct RedirectAtStart {
  RedirectAtStart() {
    if (LONG rc = redirectMachineKey(); rc != ERROR_SUCCESS)
      std::fprintf(stderr, "device: HKEY_LOCAL_MACHINE is not redirected (error %ld)\n", rc);
  }
};
const RedirectAtStart redirectAtStart;

}  // namespace

}  // namespace ce::win32

// Named by the link of every program (platform/win32/CMakeLists.txt), so that the linker
// keeps this file, and with it the redirection above, although nothing calls into it.
extern "C" const int ceRedirectMachineKeyAtStart = 1;
