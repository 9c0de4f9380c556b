// duplicateString, textEqualsIgnoreCase and the extension tests.
#include "textcore/text_helpers.h"

#include <cstring>

#include "textcore/string_buffer.h"

namespace {

// The device widens each byte as a signed char and lower-cases it with its wide case mapping;
// bytes of 0x80 and up land on U+FF80..U+FFFF, which have no case, so only ASCII folds.
char foldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

char* duplicateString(const char* text, int length) {
  if (!text || length < -1) return nullptr;
  size_t n = length == -1 ? std::strlen(text) : static_cast<size_t>(length);
  auto* copy = new char[n + 1];
  std::strncpy(copy, text, n);  // stops at the end of text and pads with zeros
  copy[n] = '\0';
  return copy;
}

bool textEqualsIgnoreCase(const char* a, const char* b) {
  if (!a || !b) return false;
  size_t n = std::strlen(a);
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (foldCase(a[i]) != foldCase(b[i])) return false;
  return true;
}

bool extensionMatches(const StringBuffer& name, const StringBuffer& extension, bool ignoreCase) {
  int dot = name.rfind(".", 0);
  if (dot < 0) return false;
  StringBuffer own = name.substr(static_cast<unsigned>(dot) + 1, StringBuffer::npos);
  return ignoreCase ? textEqualsIgnoreCase(own.c_str(), extension.c_str())
                    : own.equals(extension);
}

bool wideExtensionMatches(const wchar_t* name, const wchar_t* extension, bool ignoreCase) {
  if (!name || !extension) return false;
  StringBuffer narrowName, narrowExtension;
  narrowName.assign(name, nullptr);
  narrowExtension.assign(extension, nullptr);
  return extensionMatches(narrowName, narrowExtension, ignoreCase);
}
