// A strict UTF-8 codec: no overlong forms, no encoded surrogates, nothing above U+10FFFF.
#include "platform/linux/kernel/utf8.h"

#include <cstdint>

namespace ce::utf8 {

namespace {

// Length of the valid sequence starting at `p` (at most `left` bytes), 0 when invalid.
size_t decodeOne(const unsigned char* p, size_t left, uint32_t& cp) {
  unsigned char b = p[0];
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  size_t n;
  uint32_t min;
  if ((b & 0xE0) == 0xC0) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n > left) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// How many bytes of an invalid sequence at `p` one U+FFFD stands for, as the device reads them:
// a lead byte takes the continuation bytes that still fit the character it starts, a sequence
// cut short by the end of the text takes all that is left, and any other byte stands alone.
size_t invalidLength(const unsigned char* p, size_t left) {
  unsigned char b = p[0];
  size_t trail = b >= 0xC2 && b <= 0xDF   ? 1
                 : b >= 0xE0 && b <= 0xEF ? 2
                 : b >= 0xF0 && b <= 0xF4 ? 3
                                          : 0;
  if (trail == 0) return 1;
  if (trail + 1 > left) return left;
  uint32_t cp = b & (trail == 1 ? 0x1F : trail == 2 ? 0x0F : 0x07);
  size_t used = 1;
  auto next = [&](uint32_t& bits) { return (bits = p[used] ^ 0x80u) < 0x40; };
  uint32_t bits = 0;
  if (trail == 3) {
    if (!next(bits)) return used;
    cp = cp << 6 | bits;
    ++used;
    if (cp < 0x10) return used;  // overlong
  }
  if (trail >= 2) {
    if (!next(bits)) return used;
    cp = cp << 6 | bits;
    if (cp >= (0x110000 >> 6)) return used;  // above U+10FFFF
    ++used;
    if (cp < 0x20 || (cp >= (0xD800 >> 6) && cp <= (0xDFFF >> 6))) return used;
  }
  if (next(bits)) ++used;
  return used;
}

}  // namespace

long toWide(const char* text, size_t size, wchar_t* out, size_t capacity, InvalidBytes mode) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  size_t count = 0;
  size_t i = 0;
  while (i < size) {
    uint32_t cp;
    size_t n = decodeOne(p + i, size - i, cp);
    if (n == 0) {
      if (mode == InvalidBytes::fail) return -1;
      if (mode == InvalidBytes::replace) {
        cp = 0xFFFD;
        n = invalidLength(p + i, size - i);
      } else {
        cp = 0xDC00 + p[i];
        n = 1;
      }
    }
    if (out && count < capacity) out[count] = static_cast<wchar_t>(cp);
    ++count;
    i += n;
  }
  return static_cast<long>(count);
}

long fromWide(const wchar_t* text, size_t size, char* out, size_t capacity, InvalidChars mode) {
  size_t count = 0;
  auto put = [&](uint32_t byte) {
    if (out && count < capacity) out[count] = static_cast<char>(byte);
    ++count;
  };
  for (size_t i = 0; i < size; ++i) {
    auto cp = static_cast<uint32_t>(text[i]);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      if (mode == InvalidChars::unescape && cp >= 0xDC80 && cp <= 0xDCFF) {
        put(cp - 0xDC00);
        continue;
      }
      if (mode != InvalidChars::replace) return -1;
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  return static_cast<long>(count);
}

}  // namespace ce::utf8
