// Encodings of registry files.
#include "apps/cedevice/reg_text.h"

#include "apps/cedevice/device_access.h"

namespace cedevice::reg {

namespace {

constexpr UINT ansiCodePage = 1252;

bool wideOf(UINT codePage, const std::string& bytes, std::wstring& text) {
  if (bytes.empty()) {
    text.clear();
    return true;
  }
  // With flags 0 an undefined byte becomes a default character and never fails: the file's
  // encoding is told by its bytes being valid.
  int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                              static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  text.assign(static_cast<size_t>(n), L'\0');
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                             static_cast<int>(bytes.size()), text.data(), n) == n;
}

}  // namespace

std::vector<BYTE> utf16leOf(const std::wstring& text) {
  std::vector<BYTE> out;
  auto put = [&out](unsigned unit) {
    out.push_back(static_cast<BYTE>(unit & 0xFF));
    out.push_back(static_cast<BYTE>(unit >> 8));
  };
  for (wchar_t c : text) {
    auto point = static_cast<unsigned>(c);
    if (point >= 0x10000 && point <= 0x10FFFF) {
      put(0xD7C0 + (point >> 10));
      put(0xDC00 + (point & 0x3FF));
    } else {
      put(point > 0x10FFFF ? 0xFFFD : point);
    }
  }
  return out;
}

bool wideOfUtf16le(const BYTE* bytes, size_t size, std::wstring& text) {
  if (size % 2 != 0) return false;
  text.clear();
  for (size_t i = 0; i < size; i += 2) {
    unsigned unit = bytes[i] | (bytes[i + 1] << 8u);
    if (unit >= 0xDC00 && unit < 0xE000) return false;
    if (unit >= 0xD800 && unit < 0xDC00) {
      if (i + 3 >= size) return false;
      unsigned low = bytes[i + 2] | (bytes[i + 3] << 8u);
      if (low < 0xDC00 || low >= 0xE000) return false;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    text += static_cast<wchar_t>(unit);
  }
  return true;
}

bool appendUtf8OfUtf16le(const char* bytes, size_t size, std::string& out) {
  if (size % 2 != 0) return false;
  auto unitAt = [bytes](size_t i) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 0; i < size; i += 2) {
    unsigned c = unitAt(i);
    if (c >= 0xDC00 && c < 0xE000) return false;
    if (c >= 0xD800 && c < 0xDC00) {
      if (i + 4 > size) return false;
      unsigned low = unitAt(i + 2);
      if (low < 0xDC00 || low >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (c < 0x80) {
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
  return true;
}

namespace {

// Whether the bytes are UTF-8, counted without a copy.
bool isUtf8(const char* bytes, size_t size) {
  return size == 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes,
                                          static_cast<int>(size), nullptr, 0) > 0;
}

// Code page 1252 to UTF-8, a piece at a time (one byte is one character there), so that no
// wide copy of the whole file is ever held.
bool appendUtf8OfAnsi(const std::string& bytes, std::string& out) {
  constexpr size_t piece = 64 * 1024;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    std::wstring wide;
    if (!wideOf(ansiCodePage, bytes.substr(at, piece), wide)) return false;
    out += narrow(wide);
  }
  return true;
}

}  // namespace

bool fileTextAsUtf8(std::string&& bytes, std::string& text, std::string& problem) {
  text.clear();
  if (bytes.rfind("\xFF\xFE", 0) == 0) {
    text.reserve(bytes.size() / 2 + bytes.size() / 4);
    bool valid = appendUtf8OfUtf16le(bytes.data() + 2, bytes.size() - 2, text);
    std::string().swap(bytes);
    if (valid) return true;
    problem = "the file starts as UTF-16 but is not valid UTF-16";
    return false;
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
    if (isUtf8(bytes.data() + 3, bytes.size() - 3)) {
      bytes.erase(0, 3);
      text = std::move(bytes);
      return true;
    }
    problem = "the file starts as UTF-8 but is not valid UTF-8";
    return false;
  }
  if (isUtf8(bytes.data(), bytes.size())) {
    text = std::move(bytes);
    return true;
  }
  if (!appendUtf8OfAnsi(bytes, text)) {
    problem = "the file is neither UTF-16, UTF-8 nor text in code page 1252";
    return false;
  }
  return true;
}

bool ansiOf(const std::wstring& text, std::string& ansi) {
  ansi.clear();
  if (text.empty()) return true;
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(ansiCodePage, 0, text.data(), static_cast<int>(text.size()),
                              nullptr, 0, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return false;
  ansi.assign(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(ansiCodePage, 0, text.data(), static_cast<int>(text.size()), ansi.data(),
                      n, nullptr, &usedDefault);
  // A character held only by best fit ("A" for U+0100) reports no default character: only
  // text that reads back as itself is ANSI.
  std::wstring back;
  return !usedDefault && wideOf(ansiCodePage, ansi, back) && back == text;
}

}  // namespace cedevice::reg
