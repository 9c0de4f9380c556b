// StringBuffer: a growable narrow (UTF-8) string whose null value is distinct from the empty
// one. Most of the configuration code tells "not set" from "set to nothing" by that difference,
// so every operation below keeps the three states (null, empty, text) apart.
#pragma once

#include <cstdarg>

#include "textcore/array_element.h"

class StringBuffer : public ArrayElement {
 public:
  // as a length: up to the end of the text; as a position: not found
  static constexpr unsigned npos = 0xFFFFFFFFu;

  // null text gives the null value; otherwise the first min(strlen, len) bytes, never null
  StringBuffer(const char* text = nullptr, unsigned len = npos);
  StringBuffer(const StringBuffer& other);
  ~StringBuffer() override;

  ArrayElement* clone() const override;

  const char* c_str() const { return s; }
  // counts the bytes every time: `size` is capacity only
  unsigned length() const;
  unsigned capacity() const { return size; }

  // grows the capacity to n (a null value becomes empty); never shrinks
  void reserve(unsigned n);

  StringBuffer& assign(const char* text);
  StringBuffer& assign(const StringBuffer& other) { return assign(other.c_str()); }
  // the wide text converted to `encoding` (null: UTF-8); a failed conversion gives the null value
  StringBuffer& assign(const wchar_t* text, const char* encoding);
  StringBuffer& operator=(const char* text) { return assign(text); }
  StringBuffer& operator=(const StringBuffer& other) { return assign(other.c_str()); }

  StringBuffer& append(const char* text, unsigned len);
  StringBuffer& append(const char* text);

  // replaces the content with the formatted text; capacity ends equal to its length
  StringBuffer& sprintf(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
  StringBuffer& vsprintf(const char* format, va_list args) __attribute__((format(gnu_printf, 2, 0)));

  int find(const char* what, unsigned from = 0) const;
  // the last occurrence starting at or after `from`; overlapping occurrences count
  int rfind(const char* what, unsigned from = 0) const;
  int replace(const char* from, const char* to, unsigned pos = 0);
  int replaceAll(const char* from, const char* to, unsigned pos = 0);
  StringBuffer substr(unsigned start, unsigned len = npos) const;

  bool endsWith(char c) const;
  // two null values are equal here, a null and a non-null one are not
  bool equals(const char* other) const;
  bool equals(const StringBuffer& other) const { return equals(other.c_str()); }
  bool operator==(const char* other) const { return equals(other); }
  bool operator==(const StringBuffer& other) const { return equals(other.c_str()); }
  // ASCII letters match in any case; false when either side is null
  bool equalsIgnoreCase(const char* other) const;

 private:
  // resizes the buffer to n + 1 bytes keeping its text; throws std::bad_alloc when out of memory
  void resizeBuffer(unsigned n);

  char* s;        // C heap, owned; null is the null value
  unsigned size;  // capacity in bytes, terminator not counted; 0 when s is null
};
