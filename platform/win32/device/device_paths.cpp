// The system's declarations come first, before the names below replace them.
#include "platform/win32/windows.h"

#undef _wfopen
#undef GetFileAttributesW

namespace ce::win32 {

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring deviceHome() {
  DWORD size = GetEnvironmentVariableW(L"CE_DEVICE_HOME", nullptr, 0);
  if (size == 0) return L"";
  std::wstring home(size, L'\0');
  DWORD got = GetEnvironmentVariableW(L"CE_DEVICE_HOME", home.data(), size);
  home.resize(got < size ? got : 0);
  while (!home.empty() && isSeparator(home.back())) home.pop_back();
  return home;
}

}  // namespace

std::wstring hostPathOf(const wchar_t* path) {
  if (!path) return L"";
  // Rooted without a drive, and not "\\server\share" nor "\\?\...".
  bool devicePath = isSeparator(path[0]) && !isSeparator(path[1]);
  if (!devicePath) return path;
  std::wstring home = deviceHome();
  if (home.empty()) return path;
  // The device's root is there from its first use, as on Linux; whether it could be made
  // shows in the call on the path.
  std::wstring root = home + L"\\fs";
  CreateDirectoryW(root.c_str(), nullptr);
  return root + path;
}

}  // namespace ce::win32

FILE* CeWfopen(const wchar_t* path, const wchar_t* mode) {
  if (!path) return _wfopen(path, mode);
  return _wfopen(ce::win32::hostPathOf(path).c_str(), mode);
}

DWORD CeGetFileAttributesW(LPCWSTR path) {
  if (!path) return GetFileAttributesW(path);
  return GetFileAttributesW(ce::win32::hostPathOf(path).c_str());
}
