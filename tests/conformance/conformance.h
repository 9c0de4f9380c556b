// The conformance areas' shared side: each area is one source built twice, for Windows with
// mingw-w64 (run under Wine) and against platform/, and prints one answer per line,
// "<check>: <answer>". run_conformance.py compares the two sides line by line.
//
// Answers must compare across the two builds, so they never show what legitimately differs:
// WCHAR is 16 bits on Windows and 32 bits here, so sizes are printed in characters
// (chars(bytes)) and wide text as UTF-8 (text(...)); handle values are printed only as
// null or not.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <system_error>

#include "platform/linux/device.h"
#include "platform/windows.h"
#endif

#include <cstdarg>
#include <cstdio>
#include <string>

namespace conformance {

// a value no call under test would write: an output left alone shows as this
constexpr DWORD kSentinel = 0xdeadbeef;

// prints "<check>: <answer>"; the check names must be unique within an area
inline void answer(const char* check, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
inline void answer(const char* check, const char* format, ...) {
  std::printf("%s: ", check);
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::printf("\n");
  std::fflush(stdout);
}

inline void answerText(const char* check, const std::string& text) {
  answer(check, "%s", text.c_str());
}
inline void answerCode(const char* check, long long code) { answer(check, "%lld", code); }

// "<result> <error>": a call's return value with GetLastError() right after it
inline std::string withError(long long result) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld err=%lu", result,
                static_cast<unsigned long>(GetLastError()));
  return text;
}

// withError() of `call`, made with the last error preset to the sentinel, so that a call that
// leaves it alone shows
template <typename Call>
std::string freshError(Call call) {
  SetLastError(kSentinel);
  auto result = call();
  return withError(static_cast<long long>(result));
}

// a byte count of wide text as characters
inline unsigned long chars(DWORD bytes) {
  return static_cast<unsigned long>(bytes / sizeof(WCHAR));
}

// wide text as UTF-8, whichever width WCHAR has; control characters, lone surrogates and
// the NUL of a counted text are shown as \uXXXX so every answer stays on one line
inline std::string text(const WCHAR* wide, long count = -1) {
  if (!wide) return "(null)";
  std::string out;
  for (long i = 0; count < 0 ? wide[i] != 0 : i < count; ++i) {
    unsigned long c = static_cast<unsigned long>(wide[i]);
    if (sizeof(WCHAR) == 2 && c >= 0xD800 && c <= 0xDBFF &&
        (count < 0 || i + 1 < count) && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned long>(wide[i + 1]) - 0xDC00);
      ++i;
    }
    char escaped[16];
    if (c < 0x20 || c == 0x7F || c == '\\' || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      std::snprintf(escaped, sizeof escaped, "\\u%04lX", c);
      out += escaped;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// bytes as hex, for narrow text and binary data
inline std::string hex(const void* data, size_t size) {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<const unsigned char*>(data)[i]);
    out += pair;
  }
  return out.empty() ? "-" : out;
}

// Setting the scene with each side's own means, never with the calls under test: a fresh
// empty folder, a file with given bytes, the read-only attribute. Paths are device paths
// ("\\conf\\a.txt"): the Windows side takes them from its current drive's root, the native
// side from the device home's fs/. Wine's prefix outlives a run, so an area starts its
// folders fresh and, where it can, leaves none behind.
#ifdef _WIN32
inline bool removeTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND ||
                                                    GetLastError() == ERROR_PATH_NOT_FOUND;
  SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path.c_str()) != 0;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") removeTree(path + L"\\" + name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryW(path.c_str()) != 0;
}
inline bool makeFolder(const WCHAR* devicePath) {
  return CreateDirectoryW(devicePath, nullptr) != 0;
}
inline bool makeReadOnly(const WCHAR* devicePath) {
  return SetFileAttributesW(devicePath, FILE_ATTRIBUTE_READONLY) != 0;
}
inline bool writeBytes(const WCHAR* devicePath, const char* bytes) {
  HANDLE file = CreateFileW(devicePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes, static_cast<DWORD>(std::char_traits<char>::length(bytes)),
                      &written, nullptr);
  CloseHandle(file);
  return ok != 0;
}
#else
inline std::filesystem::path hostPath(const WCHAR* devicePath) {
  std::wstring relative = devicePath;
  for (auto& c : relative)
    if (c == L'\\') c = L'/';
  while (!relative.empty() && relative.front() == L'/') relative.erase(0, 1);
  std::string bytes;
  ce::narrowFileName(relative, bytes);
  return std::filesystem::path(ce::fsRoot()) / bytes;
}
inline bool removeTree(const std::wstring& devicePath) {
  std::error_code error;
  std::filesystem::remove_all(hostPath(devicePath.c_str()), error);
  return !error;
}
inline bool makeFolder(const WCHAR* devicePath) {
  std::error_code error;
  return std::filesystem::create_directory(hostPath(devicePath), error);
}
inline bool makeReadOnly(const WCHAR* devicePath) {
  std::error_code error;
  std::filesystem::permissions(hostPath(devicePath), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove, error);
  return !error;
}
inline bool writeBytes(const WCHAR* devicePath, const char* bytes) {
  FILE* file = std::fopen(hostPath(devicePath).c_str(), "wb");
  if (!file) return false;
  bool ok = std::fputs(bytes, file) >= 0;
  return std::fclose(file) == 0 && ok;
}
#endif

// an empty folder at devicePath, whatever was there before
inline bool freshFolder(const WCHAR* devicePath) {
  return removeTree(devicePath) && makeFolder(devicePath);
}

}  // namespace conformance
