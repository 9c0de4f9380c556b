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

bool fileTextAsUtf8(const std::string& bytes, std::string& text, std::string& problem) {
  std::wstring wide;
  if (bytes.rfind("\xFF\xFE", 0) == 0) {
    if (!wideOfUtf16le(reinterpret_cast<const BYTE*>(bytes.data()) + 2, bytes.size() - 2, wide)) {
      problem = "the file starts as UTF-16 but is not valid UTF-16";
      return false;
    }
    text = narrow(wide);
    return true;
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
    text = bytes.substr(3);
    if (wideOf(CP_UTF8, text, wide)) return true;
    problem = "the file starts as UTF-8 but is not valid UTF-8";
    return false;
  }
  if (wideOf(CP_UTF8, bytes, wide)) {
    text = bytes;
    return true;
  }
  if (!wideOf(ansiCodePage, bytes, wide)) {
    problem = "the file is neither UTF-16, UTF-8 nor text in code page 1252";
    return false;
  }
  text = narrow(wide);
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
