#include "recording/folder_summary.h"

#include <cstdint>
#include <cstdio>

#include "platform/windows.h"
#include "textcore/code_points.h"

namespace {

// FNV-1a over 64 bits, finished with a strong mixer: entries are combined by addition, so
// each must be well spread on its own.
class EntryHash {
 public:
  void add(const void* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      value_ ^= static_cast<const unsigned char*>(data)[i];
      value_ *= 0x100000001b3ULL;
    }
  }
  // Numbers and texts go in as fixed little-endian bytes, so that a summary stored by one
  // build reads the same to another whatever its byte order and its width of wchar_t.
  void add(uint64_t number) { addLittleEndian(number, 8); }
  // Each character as 4 bytes and then their count: UTF-32 as the summaries of 32-bit wchar_t
  // builds always hashed it, and what 16-bit ones now hash too.
  void add(const std::wstring& text) {
    uint64_t characters = 0;
    for (const wchar_t* p = text.c_str(); *p; ++characters) {
      CodePoint character = codePointAt(p);
      addLittleEndian(character.value, 4);
      p += character.units;
    }
    add(characters);
  }
  void addLittleEndian(uint64_t number, int bytes) {
    unsigned char data[8];
    for (int i = 0; i < bytes; ++i) data[i] = static_cast<unsigned char>(number >> (8 * i));
    add(data, static_cast<size_t>(bytes));
  }
  uint64_t finish() const {
    uint64_t z = value_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

 private:
  uint64_t value_ = 0xcbf29ce484222325ULL;
};

uint64_t wide(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

std::string format(const char* count, uint64_t digest) {
  char text[48];
  std::snprintf(text, sizeof text, "%s-%016llx", count, static_cast<unsigned long long>(digest));
  return text;
}

}  // namespace

bool isSelfOrParentEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

std::optional<std::string> summarizeFolder(const std::wstring& devicePath,
                                           const FolderRules& rules) {
  EntryHash folderHash;
  folderHash.add(devicePath);
  std::wstring prefix = devicePath;
  if (prefix.empty() || (prefix.back() != L'\\' && prefix.back() != L'/')) prefix += L'\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((prefix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // Nothing matched: the device lists no "." and "..", so an empty folder says so.
    if (error == ERROR_FILE_NOT_FOUND) return format("0", folderHash.finish());
    // No such folder, or a name that cannot be one (a file, a wildcard).
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
      return format("none", folderHash.finish());
    return std::nullopt;
  }
  // A sum does not depend on the order in which the folder lists its entries.
  uint64_t sum = folderHash.finish();
  unsigned long long count = 0;
  std::wstring path = prefix;
  do {
    if (isSelfOrParentEntry(data.cFileName)) continue;
    path.resize(prefix.size());
    path += data.cFileName;
    if (applyFolderRules(rules, path.c_str()) != RuleVerdict::counts) continue;
    EntryHash entry;
    entry.add(path);
    entry.add(wide(data.nFileSizeHigh, data.nFileSizeLow));
    entry.add(wide(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime));
    entry.add(static_cast<uint64_t>(data.dwOID));
    entry.add(static_cast<uint64_t>(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
    sum += entry.finish();
    ++count;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return format(std::to_string(count).c_str(), sum);
}
