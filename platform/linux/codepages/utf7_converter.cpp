// UTF-7 (code page 65000) as the device writes and reads it, which is not quite RFC 2152: only
// the RFC's directly encoded characters and NUL, TAB, LF, CR are written as they are (its
// optional direct characters such as '!' and '@' are encoded), every base64 run ends with '-',
// a '+' is always "+-", even inside a run, and on reading any byte outside a run stands for the
// character of the same number.
#include <string_view>

#include "platform/linux/codepages/page_converter.h"
#include "platform/linux/kernel/utf16.h"

namespace ce::kernel {

namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool writtenAsItIs(char32_t c) {
  if (c == 0 || c == '\t' || c == '\n' || c == '\r' || c == ' ') return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c == '\'' || c == '(' || c == ')' || c == ',' || c == '-' || c == '.' || c == '/' ||
         c == ':' || c == '?';
}

int sextetOf(unsigned char byte) {
  size_t at = kBase64.find(static_cast<char>(byte));
  return byte != 0 && at != std::string_view::npos ? static_cast<int>(at) : -1;
}

class Utf7Converter : public PageConverter {
 public:
  bool toWide(const char* text, size_t size, const DecodeOptions&, std::wstring& out) override {
    std::u16string units;
    for (size_t i = 0; i < size;) {
      auto byte = static_cast<unsigned char>(text[i++]);
      if (byte != '+') {
        units += static_cast<char16_t>(byte);
        continue;
      }
      if (i < size && text[i] == '-') {
        units += u'+';
        ++i;
        continue;
      }
      // A run ends at the first byte that is not base64; a '-' there is part of the run. Bits
      // left over that do not make a whole unit are dropped.
      unsigned long bits = 0;
      int count = 0;
      while (i < size) {
        int sextet = sextetOf(static_cast<unsigned char>(text[i]));
        if (sextet < 0) {
          if (text[i] == '-') ++i;
          break;
        }
        bits = (bits << 6 | static_cast<unsigned long>(sextet)) & 0xFFFFFF;
        count += 6;
        if (count >= 16) {
          count -= 16;
          units += static_cast<char16_t>(bits >> count);
        }
        ++i;
      }
    }
    assignWideFromUtf16(units, out);
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char*, std::string& out,
                bool&) override {
    std::u16string units;
    for (size_t i = 0; i < size; ++i) {
      auto c = static_cast<char32_t>(text[i]);
      if (c > 0x10FFFF) c = 0xFFFD;
      if (c >= 0x10000) {
        units += static_cast<char16_t>(0xD7C0 + (c >> 10));
        units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
      } else {
        units += static_cast<char16_t>(c);
      }
    }
    out.clear();
    for (size_t i = 0; i < units.size();) {
      char16_t c = units[i];
      if (c == u'+') {
        out += "+-";
        ++i;
        continue;
      }
      if (writtenAsItIs(c)) {
        out += static_cast<char>(c);
        ++i;
        continue;
      }
      out += '+';
      unsigned long bits = 0;
      int count = 0;
      for (; i < units.size() && !writtenAsItIs(units[i]) && units[i] != u'+'; ++i) {
        bits = (bits << 16 | units[i]) & 0xFFFFFF;
        count += 16;
        while (count >= 6) {
          count -= 6;
          out += kBase64[(bits >> count) & 0x3F];
        }
      }
      if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3F];
      out += '-';
    }
    return true;
  }

  bool holds(char32_t) override { return true; }
};

}  // namespace

std::unique_ptr<PageConverter> openUtf7Converter() { return std::make_unique<Utf7Converter>(); }

}  // namespace ce::kernel
