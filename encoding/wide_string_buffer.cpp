// The StringBuffer members that rest on the text conversions.
#include "config/string_buffer.h"
#include "encoding/conversions.h"

StringBuffer& StringBuffer::assign(const wchar_t* text, const char* encoding) {
  char* narrow = toMultibyte(text, encoding);
  assign(narrow);
  delete[] narrow;
  return *this;
}

bool StringBuffer::equalsIgnoreCase(const char* other) const {
  return textEqualsIgnoreCase(s, other);
}
