// The StringBuffer members that rest on the text conversions.
#include "textcore/string_buffer.h"
#include "textcore/conversions.h"

StringBuffer& StringBuffer::assign(const wchar_t* text, const char* encoding) {
  char* narrow = toMultibyte(text, encoding);
  assign(narrow);
  delete[] narrow;
  return *this;
}

bool StringBuffer::equalsIgnoreCase(const char* other) const {
  return textEqualsIgnoreCase(s, other);
}
