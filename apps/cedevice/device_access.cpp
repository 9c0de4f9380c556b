#include "apps/cedevice/device_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "apps/cedevice/failure.h"
#include "config/stored_number.h"
#include "platform/linux/device.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/linux/kernel/unique_fd.h"
#include "platform/linux/process.h"
#include "platform/linux/stores.h"
#include "platform/linux/user/window_table.h"

namespace cedevice {

std::string programPath(const std::string& name) {
  std::filesystem::path dir = ce::executableDir();
  // Installed, under libexec/cedevice/ reached from bin/ (so a moved prefix still works); in
  // the build tree, in the apps/<name>/ folders beside apps/cedevice/.
  std::filesystem::path installed = (dir / CE_HELPERS_FROM_BIN / name).lexically_normal();
  for (const auto& candidate : {installed, dir / ".." / name / name})
    if (std::filesystem::exists(candidate)) return std::filesystem::canonical(candidate).string();
  return installed.string();
}

std::string runFile(const std::string& name) { return ce::runDir() + "/" + name; }

std::string listenerLogPath() { return ce::fsRoot() + "/notlstnr.txt"; }

HWND findListenerWindow() { return FindWindowW(L"ClientPushWindow", nullptr); }

int ownerOf(HWND window) {
  for (const auto& info : ce::listWindows())
    if (info.hwnd == window) return info.pid;
  return static_cast<int>(reinterpret_cast<UINT_PTR>(window) >> 32);
}

const DataSource* sourceNamed(const std::string& name) {
  for (const DataSource& source : dataSources)
    if (name == source.name) return &source;
  return nullptr;
}

std::vector<std::string> sourceNames() {
  std::vector<std::string> names;
  for (const DataSource& source : dataSources) names.emplace_back(source.name);
  return names;
}

std::string describeList(int list) {
  std::string names;
  for (const DataSource& source : dataSources)
    if (list & source.bit) names.append(names.empty() ? "" : ",").append(source.name);
  return names.empty() ? "none" : names;
}

bool readClientSetting(const wchar_t* name, std::wstring& value) {
  auto failed = [name](LONG result) {
    return Failure(storeFailure(ce::registryStoreName, "cannot read the registry setting " +
                                                           narrow(name) + " (error " +
                                                           std::to_string(result) + ")"));
  };
  HKEY key = nullptr;
  LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillbex\\SyncclientPIM", 0, KEY_READ, &key);
  if (result == ERROR_FILE_NOT_FOUND) return false;
  if (result != ERROR_SUCCESS) throw failed(result);
  DWORD type = 0, size = 0;
  result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  bool found = result == ERROR_SUCCESS;
  if (found) {
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()),
                              &bytes);
    found = result == ERROR_SUCCESS;
    if (auto number = numericValueText(type, buffer.data(), bytes)) {
      value.assign(number->begin(), number->end());
    } else {
      value = valueText(type, buffer.data(), bytes);
    }
  }
  RegCloseKey(key);
  if (!found && result != ERROR_FILE_NOT_FOUND) throw failed(result);
  return found;
}

void writeClientSetting(const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillbex\\SyncclientPIM", 0, nullptr,
                                0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegFlushKey(key);
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS)
    throw Failure(storeFailure(ce::registryStoreName, "cannot write the registry setting " +
                                                          narrow(name) + " (error " +
                                                          std::to_string(result) + ")"));
}

std::string storeFailure(const char* storeName, const std::string& otherwise) {
  std::string problem = ce::storeProblem(storeName);
  return problem.empty() ? otherwise : "system/" + std::string(storeName) + ": " + problem;
}

std::string oneLine(const std::string& text, bool escapeBackslash) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\\' && escapeBackslash) {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string narrow(const std::wstring& text) {
  std::string out;
  ce::narrowFileName(text, out);
  return out;
}

std::wstring widen(const std::string& text) { return ce::widenFileName(text); }

std::string readText(const std::string& hostPath) {
  // Never blocks: a FIFO or a folder planted in place of a record is refused, not read.
  ce::kernel::UniqueFd fd(ce::kernel::openPrivate(hostPath, O_RDONLY));
  if (!fd.valid()) {
    if (errno == ENOENT) return "";
    throw Failure(hostPath + ": " + ce::kernel::privateOpenError(errno) + "; remove it");
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace cedevice
