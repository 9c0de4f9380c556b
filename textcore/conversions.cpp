// getCodePage, toWideChar, toMultibyte and multibyteSize over the platform's code-page calls.
#include "textcore/conversions.h"

#include <cstring>
#include <cwchar>

#include "textcore/log.h"
#include "platform/windows.h"

namespace {

constexpr int kDefaultCodePage = CP_UTF8;

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameNameIgnoringCase(const char* row, const char* name) {
  for (; *row && *name; ++row, ++name)
    if (*row != asciiLower(*name)) return false;
  return *row == *name;
}

// printf prints "(null)" for a null %s on the device; ours need not, so say it ourselves
const char* printable(const char* text) { return text ? text : "(null)"; }

}  // namespace

int getCodePage(const char* name) {
  if (!name || !*name) return kDefaultCodePage;
  for (const CharsetEntry* row = charsetTable; row->name; ++row)
    if (sameNameIgnoringCase(row->name, name)) return row->codePage;
  sharedLog()->error("Invalid encoding: %s", name);
  return kDefaultCodePage;
}

wchar_t* toWideChar(const char* text, const char* encoding) {
  if (!text) return nullptr;
  // Every code page spends at least one byte per character, so n bytes never give more than
  // n characters plus the terminator.
  size_t n = std::strlen(text);
  auto* wide = new wchar_t[n + 2];
  std::wmemset(wide, L'\0', n + 2);
  if (n == 0) return wide;

  // With flags 0 the platform would put a default character for each byte the page does not
  // define and succeed, as the device does. Text that does not convert must fail here instead,
  // so that callers keep what they had (a registry value, a folder) and the reason is logged.
  int limit = static_cast<int>(n + 1);
  int codePage = getCodePage(encoding);
  if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, wide, limit) != 0)
    return wide;

  sharedLog()->error("toWideChar: error %d \n\tConverting: %s\n\tWith encoding %s",
                     static_cast<int>(GetLastError()), text, printable(encoding));
  sharedLog()->error("toWideChar: try to use default codepage.");
  std::wmemset(wide, L'\0', n + 2);
  if (MultiByteToWideChar(kDefaultCodePage, MB_ERR_INVALID_CHARS, text, -1, wide, limit) != 0)
    return wide;

  sharedLog()->error("toWideChar: error %d converting the string using default codepage.",
                     static_cast<int>(GetLastError()));
  delete[] wide;
  return nullptr;
}

int multibyteSize(const wchar_t* text, int codePage) {
  if (!text || !*text) return 0;
  int size = WideCharToMultiByte(static_cast<UINT>(codePage), 0, text,
                                 static_cast<int>(std::wcslen(text)), nullptr, 0, nullptr,
                                 nullptr);
  return size > 0 ? size : -1;
}

char* toMultibyte(const wchar_t* text, const char* encoding) {
  if (!text) return nullptr;
  size_t m = std::wcslen(text);
  if (m == 0) return new char[1]{'\0'};

  int codePage = getCodePage(encoding);
  int size = multibyteSize(text, codePage);
  if (size < 0) {
    sharedLog()->error("toMultibyte: invalid encoding");
    return nullptr;
  }
  auto* narrow = new char[static_cast<size_t>(size) + 1];
  int written = WideCharToMultiByte(static_cast<UINT>(codePage), 0, text, static_cast<int>(m),
                                    narrow, size, nullptr, nullptr);
  narrow[written > 0 ? written : 0] = '\0';
  return narrow;
}
