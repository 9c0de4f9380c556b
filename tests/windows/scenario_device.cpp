// What a person does to the device in the scenarios, on Windows, where cedevice does not run:
//   scenario_device init                      the device's folders and the client's settings
//   scenario_device get NAME                  a client setting, as a number or its text;
//                                             exit 3 when it is absent
//   scenario_device send close                WM_CLOSE to the listener
//   scenario_device send suspend|resume FLAG  WM_COMMAND FLAG, lParam 1 or 0
//   scenario_device pim add FOLDER SUBJECT    prints the new item's id
//   scenario_device pim change ID SUBJECT
// It prints what failed and ends with 1; a usage error ends with 2.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/pimstore.h"
#include "platform/win32/device/device_paths.h"
#include "platform/windows.h"

namespace {

const wchar_t* const clientKey = L"Software\\Quillbex\\SyncclientPIM";

bool makeFolders() {
  for (const wchar_t* folder :
       {L"\\My Documents", L"\\My Documents\\Briefcase", L"\\My Documents\\Notes",
        L"\\My Documents\\My Pictures", L"\\Program Files", L"\\Program Files\\Quillbex"}) {
    std::wstring host = ce::win32::hostPathOf(folder);
    if (!CreateDirectoryW(host.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      std::fprintf(stderr, "scenario_device: cannot create %ls (error %lu)\n", host.c_str(),
                   GetLastError());
      return false;
    }
  }
  return true;
}

bool writeSetting(const wchar_t* name, const wchar_t* value) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, clientKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS)
    std::fprintf(stderr, "scenario_device: cannot write %ls (error %ld)\n", name, result);
  return result == ERROR_SUCCESS;
}

// The same defaults as `cedevice init` sets on Linux.
int init() {
  if (!makeFolders()) return 1;
  return writeSetting(L"path", L"\\Program Files\\Quillbex") &&
                 writeSetting(L"clientPushInterval", L"1") && writeSetting(L"logLevel", L"2")
             ? 0
             : 1;
}

int get(const wchar_t* name) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, clientKey, 0, KEY_READ, &key);
  BYTE data[1024] = {};
  DWORD type = 0, size = sizeof(data) - sizeof(wchar_t);
  if (result == ERROR_SUCCESS) {
    result = RegQueryValueExW(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
  }
  if (result == ERROR_FILE_NOT_FOUND) return 3;
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "scenario_device: cannot read %ls (error %ld)\n", name, result);
    return 1;
  }
  if (type == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof(number));
    std::printf("%lu\n", number);
  } else {
    std::printf("%ls\n", reinterpret_cast<const wchar_t*>(data));
  }
  return 0;
}

int send(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND window = FindWindowW(L"ClientPushWindow", nullptr);
  if (window == nullptr || !PostMessageW(window, message, wParam, lParam)) {
    std::fprintf(stderr, "scenario_device: the listener's window is not there\n");
    return 1;
  }
  return 0;
}

std::string utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

int pimResult(const ce::pim::Result& result) {
  if (result) return 0;
  std::fprintf(stderr, "scenario_device: %s\n", result.message.c_str());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  auto is = [&](int index, const wchar_t* word) {
    return index < argc && std::wcscmp(argv[index], word) == 0;
  };
  if (argc == 2 && is(1, L"init")) return init();
  if (argc == 3 && is(1, L"get")) return get(argv[2]);
  if (argc == 3 && is(1, L"send") && is(2, L"close")) return send(WM_CLOSE, 0, 0);
  if (argc == 4 && is(1, L"send") && (is(2, L"suspend") || is(2, L"resume")))
    return send(WM_COMMAND, std::wcstoul(argv[3], nullptr, 10), is(2, L"suspend") ? 1 : 0);
  if (argc == 5 && is(1, L"pim") && is(2, L"add")) {
    DWORD oid = 0;
    int status = pimResult(
        ce::pim::addItem(static_cast<int>(std::wcstol(argv[3], nullptr, 10)), utf8(argv[4]), oid));
    if (status == 0) std::printf("%lu\n", oid);
    return status;
  }
  if (argc == 5 && is(1, L"pim") && is(2, L"change"))
    return pimResult(ce::pim::changeItem(std::wcstoul(argv[3], nullptr, 10), utf8(argv[4])));
  std::fprintf(stderr, "usage: scenario_device init | get NAME | send close | "
                       "send suspend|resume FLAG | pim add FOLDER SUBJECT | pim change ID SUBJECT\n");
  return 2;
}
