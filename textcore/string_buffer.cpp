// StringBuffer: the three states, growth, formatting, search and replace. The buffer lives on
// the C heap so that growth is a realloc that keeps the content.
#include "textcore/string_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

// what the first formatting attempt always has room for
constexpr unsigned kFirstFormatRoom = 255;

// true when p points into [begin, begin + bytes]: such an argument dies with a realloc
bool pointsInto(const char* p, const char* begin, unsigned bytes) {
  return begin && p >= begin && p <= begin + bytes;
}

}  // namespace

StringBuffer::StringBuffer(const char* text, unsigned len) : s(nullptr), size(0) {
  if (!text) return;
  size_t n = strnlen(text, len);
  resizeBuffer(static_cast<unsigned>(n));
  std::memcpy(s, text, n);
  s[n] = '\0';
}

StringBuffer::StringBuffer(const StringBuffer& other) : StringBuffer(other.c_str()) {}

StringBuffer::~StringBuffer() { std::free(s); }

ArrayElement* StringBuffer::clone() const { return new (std::nothrow) StringBuffer(*this); }

unsigned StringBuffer::length() const { return s ? static_cast<unsigned>(std::strlen(s)) : 0; }

void StringBuffer::resizeBuffer(unsigned n) {
  bool wasNull = s == nullptr;
  void* grown = std::realloc(s, static_cast<size_t>(n) + 1);
  if (!grown) throw std::bad_alloc();
  s = static_cast<char*>(grown);
  size = n;
  if (wasNull) s[0] = '\0';
  s[n] = '\0';
}

void StringBuffer::reserve(unsigned n) {
  if (n > size) resizeBuffer(n);
}

StringBuffer& StringBuffer::assign(const char* text) {
  if (!text) {
    std::free(s);
    s = nullptr;
    size = 0;
    return *this;
  }
  // text may be part of our own buffer; it is then no longer than the capacity, so reserve
  // does not move the buffer and memmove copes with the overlap.
  size_t n = std::strlen(text);
  if (s) reserve(static_cast<unsigned>(n));
  else resizeBuffer(static_cast<unsigned>(n));
  std::memmove(s, text, n);
  s[n] = '\0';
  return *this;
}

StringBuffer& StringBuffer::append(const char* text, unsigned len) {
  if (!text || len == 0) return *this;
  // Reserve what will really be copied, not `len`: append(text, npos) must not ask for 4 GiB.
  size_t n = strnlen(text, len);
  if (!s) {
    resizeBuffer(static_cast<unsigned>(n));
    std::memcpy(s, text, n);
    s[n] = '\0';
    return *this;
  }
  unsigned current = length();
  if (pointsInto(text, s, size)) {
    std::string copy(text, n);  // the realloc below may free the source
    reserve(current + static_cast<unsigned>(n));
    std::memcpy(s + current, copy.data(), n);
  } else {
    reserve(current + static_cast<unsigned>(n));
    std::memcpy(s + current, text, n);
  }
  s[current + n] = '\0';
  return *this;
}

StringBuffer& StringBuffer::append(const char* text) {
  if (!text) return *this;
  return append(text, static_cast<unsigned>(std::strlen(text)));
}

StringBuffer& StringBuffer::sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsprintf(format, args);
  va_end(args);
  return *this;
}

// The device's formatter returns -1 when the text does not fit, so the room doubles until it
// does; ours (C99) reports the length it needs, which is reserved exactly. A -1 from ours is
// an encoding error (a %S argument the locale cannot print): doubling would never end, so the
// value becomes null, as when memory runs out.
//
// The text is formatted into a separate buffer and only then replaces the old one, so an
// argument that points into this StringBuffer (sb.sprintf("%s/x", sb.c_str())) stays valid.
StringBuffer& StringBuffer::vsprintf(const char* format, va_list args) {
  if (!format) return assign(nullptr);
  unsigned room = size;
  unsigned need = kFirstFormatRoom;
  char* out = nullptr;
  for (;;) {
    if (room < need) room = need;
    char* grown = static_cast<char*>(std::realloc(out, static_cast<size_t>(room) + 1));
    if (!grown) {
      std::free(out);
      assign(nullptr);
      return *this;
    }
    out = grown;
    va_list attempt;
    va_copy(attempt, args);
    int written = std::vsnprintf(out, static_cast<size_t>(room) + 1, format, attempt);
    va_end(attempt);
    if (written < 0) {
      std::free(out);
      assign(nullptr);
      return *this;
    }
    need = static_cast<unsigned>(written);
    if (need <= room) break;
  }
  char* trimmed = static_cast<char*>(std::realloc(out, static_cast<size_t>(need) + 1));
  std::free(s);
  s = trimmed ? trimmed : out;
  size = need;
  return *this;
}

int StringBuffer::find(const char* what, unsigned from) const {
  if (!s || !what || from >= length()) return -1;
  const char* hit = std::strstr(s + from, what);
  return hit ? static_cast<int>(hit - s) : -1;
}

int StringBuffer::rfind(const char* what, unsigned from) const {
  if (!s || !what) return -1;
  unsigned len = length();
  if (from >= len) return -1;
  int last = -1;
  for (const char* hit = std::strstr(s + from, what); hit; ) {
    last = static_cast<int>(hit - s);
    if (static_cast<unsigned>(last) + 1 >= len) break;
    hit = std::strstr(hit + 1, what);
  }
  return last;
}

// An empty `from` would match everywhere and make replaceAll loop for ever: it matches nothing.
int StringBuffer::replace(const char* from, const char* to, unsigned pos) {
  if (!from || !*from || !to) return -1;
  int at = find(from, pos);
  if (at < 0) return -1;
  size_t lf = std::strlen(from);
  size_t lt = std::strlen(to);
  unsigned oldLength = length();
  std::string replacement;
  if (pointsInto(to, s, size)) {
    replacement.assign(to, lt);  // the realloc or the move below may overwrite it
    to = replacement.c_str();
  }
  if (lt > lf) reserve(static_cast<unsigned>(oldLength + lt - lf));
  size_t tail = oldLength - at - lf;
  std::memmove(s + at + lt, s + at + lf, tail + 1);  // the tail with its terminator
  std::memcpy(s + at, to, lt);
  return at;
}

int StringBuffer::replaceAll(const char* from, const char* to, unsigned pos) {
  if (!to) return 0;
  unsigned lt = static_cast<unsigned>(std::strlen(to));
  int count = 0;
  for (int at = replace(from, to, pos); at >= 0; at = replace(from, to, pos)) {
    ++count;
    pos = static_cast<unsigned>(at) + lt;  // never match inside what was just inserted
  }
  return count;
}

// Defined for the null value too: it has nothing to give, so the result is empty.
StringBuffer StringBuffer::substr(unsigned start, unsigned len) const {
  unsigned total = length();
  if (!s || start > total) return StringBuffer("");
  if (len > total - start) len = total - start;
  return StringBuffer(s + start, len);
}

bool StringBuffer::endsWith(char c) const {
  if (!s || !*s) return false;
  return s[std::strlen(s) - 1] == c;
}

bool StringBuffer::equals(const char* other) const {
  if (!s || !other) return !s && !other;
  return std::strcmp(s, other) == 0;
}
