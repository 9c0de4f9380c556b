// The device home and the device-path <-> host-path mapping.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/linux/device.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/linux/kernel/utf8.h"

namespace ce {

namespace {

std::mutex homeMutex;
std::string cachedHome;

// The home may be reached through links (its path is the owner's choice); the three folders
// in it may not, or the device would write outside its home.
std::string resolveHome() {
  const char* env = std::getenv("CE_DEVICE_HOME");
  const bool named = env && *env;
  std::string home = named ? env : "./device";
  // The device tool always names the home it makes: a program run by hand in a folder
  // without a device says so, rather than making ./device there.
  struct stat info;
  if (!named && lstat(home.c_str(), &info) != 0 && errno == ENOENT)
    throw std::runtime_error("no device in ./device ($CE_DEVICE_HOME is not set); make one with "
                             "`cedevice init`");
  // Nothing is made where another user could plant what the device would run or read.
  if (std::string problem = homeTrustProblem(home); !problem.empty())
    throw std::runtime_error(problem);
  std::string error;
  if (!makePrivateFolders(home, error)) throw std::runtime_error("cannot create " + error);
  char resolved[PATH_MAX];
  if (!realpath(home.c_str(), resolved))
    throw std::runtime_error("cannot resolve device home " + home + ": " + std::strerror(errno));
  home = resolved;
  for (const char* folder : {"/fs", "/system", "/run"})
    if (!kernel::makePrivateFolder(home + folder, false))
      throw std::runtime_error("cannot use " + home + folder + ": " +
                               kernel::privateOpenError(errno));
  if (std::string problem = homeTrustProblem(home); !problem.empty())
    throw std::runtime_error(problem);
  return home;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Characters Windows refuses in a name (ERROR_INVALID_NAME); '*' and '?' are a pattern's.
bool isReservedInName(wchar_t c) {
  return c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'|' || c == L'"';
}

}  // namespace

std::string deviceHome() {
  std::lock_guard<std::mutex> lock(homeMutex);
  if (cachedHome.empty()) cachedHome = resolveHome();
  return cachedHome;
}

std::string homeAccessProblem(const std::string& home) {
  for (const char* folder : {"", "/fs", "/system", "/run"}) {
    std::string path = home + folder;
    if (access(path.c_str(), R_OK | W_OK | X_OK) == 0 || errno == ENOENT) continue;
    return path + ": " + (errno == EACCES ? "permission denied" : std::strerror(errno));
  }
  return "";
}

std::string fsRoot() { return deviceHome() + "/fs"; }
std::string systemDir() { return deviceHome() + "/system"; }
std::string runDir() { return deviceHome() + "/run"; }

std::wstring widenFileName(const std::string& bytes) {
  std::wstring out(bytes.size(), L'\0');
  long n = utf8::toWide(bytes.data(), bytes.size(), out.data(), out.size(),
                        utf8::InvalidBytes::escape);
  out.resize(static_cast<size_t>(n));
  return out;
}

bool narrowFileName(const std::wstring& text, std::string& bytes) {
  long n = utf8::fromWide(text.data(), text.size(), nullptr, 0, utf8::InvalidChars::unescape);
  if (n < 0) return false;
  bytes.resize(static_cast<size_t>(n));
  utf8::fromWide(text.data(), text.size(), bytes.data(), bytes.size(),
                 utf8::InvalidChars::unescape);
  return true;
}

std::string fileNameForMessage(const std::wstring& text) {
  std::string bytes;
  return narrowFileName(text, bytes) ? bytes : std::string("?");
}

bool hostPathOf(const wchar_t* devicePath, std::string& hostPath) {
  if (!devicePath) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  size_t length = wcslen(devicePath);
  if (length == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (length >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // Every log line and every file event maps a path: each part is converted straight onto
  // the end of the result, with no copy of its own.
  std::string out = fsRoot();
  const size_t rootSize = out.size();
  out.reserve(rootSize + 1 + length * 3);
  size_t i = 0;
  while (i < length) {
    while (i < length && isSeparator(devicePath[i])) ++i;
    size_t start = i;
    while (i < length && !isSeparator(devicePath[i])) ++i;
    if (i == start) break;
    std::wstring_view part(devicePath + start, i - start);
    if (part != L"." && part != L"..") {
      // As Windows reads a path: the last name loses its trailing dots and spaces, any
      // other name one trailing dot ("\conf.\a" is "\conf\a", "\conf \a" is not).
      if (i == length) {
        while (!part.empty() && (part.back() == L'.' || part.back() == L' '))
          part.remove_suffix(1);
        if (part.empty()) continue;
      } else if (part.back() == L'.') {
        part.remove_suffix(1);
      }
    }
    if (part == L".") continue;
    if (part == L"..") {
      // Taken apart by name, never beyond the root: fs/ is the device's whole world.
      size_t slash = out.rfind('/');
      if (out.size() > rootSize && slash >= rootSize) out.resize(slash);
      continue;
    }
    long bytes = -1;
    if (std::find_if(part.begin(), part.end(), isReservedInName) == part.end())
      bytes = utf8::fromWide(part.data(), part.size(), nullptr, 0, utf8::InvalidChars::unescape);
    if (bytes < 0) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    out += '/';
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(bytes));
    utf8::fromWide(part.data(), part.size(), out.data() + at, static_cast<size_t>(bytes),
                   utf8::InvalidChars::unescape);
  }
  // "\conf\a.txt\" names a folder: a file there is not found (ERROR_PATH_NOT_FOUND).
  if (isSeparator(devicePath[length - 1]) && out.size() > rootSize) out += '/';
  hostPath = std::move(out);
  return true;
}

std::wstring devicePathOf(const std::string& hostPath) {
  std::string root = fsRoot();
  if (hostPath == root) return L"\\";
  if (hostPath.compare(0, root.size(), root) != 0 || hostPath.size() <= root.size() ||
      hostPath[root.size()] != '/')
    return L"";
  std::wstring device = widenFileName(hostPath.substr(root.size()));
  for (auto& c : device)
    if (c == L'/') c = L'\\';
  return device;
}

namespace kernel {
void resetDeviceHome() {
  std::lock_guard<std::mutex> lock(homeMutex);
  cachedHome.clear();
}
}  // namespace kernel

}  // namespace ce
