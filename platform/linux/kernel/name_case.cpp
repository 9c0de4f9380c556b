// Names compared without regard to case, as the device's file system compares them.
//
// Linux compares file names byte for byte; the device upper-cases each character and keeps
// the case a name was made with. Host paths are therefore tried as spelled first, and only a
// miss pays for reading folders: the log's every line and the listener's every file event
// name files that exist as spelled.
#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/icu/lazy_icu.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The entry of `folder` whose name has `key`: the smallest in byte order when several do
// (a host folder may hold "a.txt" and "A.TXT", the device never).
bool entryWithKey(const std::string& folder, const std::wstring& key, std::string& found) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return false;
  bool any = false;
  while (dirent* entry = readdir(dir.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (ce::nameCaseKey(ce::widenFileName(name)) != key) continue;
    if (!any || name < found) found = name;
    any = true;
  }
  return any;
}

}  // namespace

namespace ce {

std::wstring nameCaseKey(std::wstring_view name) {
  std::wstring key(name);
  // ICU's simple mapping, one character to one, whatever the process's locale says. ASCII
  // needs no ICU: most names are ASCII, and ICU is loaded only when first needed.
  for (auto& c : key) {
    if (c < 0x80)
      c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 0x20) : c;
    else
      c = static_cast<wchar_t>(icu::functions().toUpper(static_cast<UChar32>(c)));
  }
  return key;
}

bool matchCase(std::string& hostPath) {
  const std::string root = fsRoot();
  if (hostPath.compare(0, root.size(), root) != 0 || hostPath.size() <= root.size() ||
      hostPath[root.size()] != '/')
    return false;
  std::string resolved = root;
  bool changed = false;
  size_t at = root.size() + 1;
  while (at <= hostPath.size()) {
    size_t slash = hostPath.find('/', at);
    if (slash == std::string::npos) slash = hostPath.size();
    std::string part = hostPath.substr(at, slash - at);
    at = slash + 1;
    if (part.empty()) {  // the trailing separator of a folder's path
      resolved += '/';
      continue;
    }
    std::string spelled = resolved + '/' + part;
    struct stat info;
    std::string match;
    if (lstat(spelled.c_str(), &info) != 0 &&
        entryWithKey(resolved, nameCaseKey(widenFileName(part)), match)) {
      resolved += '/' + match;
      changed = true;
      continue;
    }
    resolved = std::move(spelled);
  }
  if (changed) hostPath = std::move(resolved);
  return changed;
}

}  // namespace ce
