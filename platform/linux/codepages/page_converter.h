// One code page's conversions to and from wide text. Platform-internal.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/codepages/code_page_table.h"

namespace ce::kernel {

struct DecodeOptions {
  bool failOnInvalid = false;  // MB_ERR_INVALID_CHARS
  bool glyphs = false;         // MB_USEGLYPHCHARS
};

class PageConverter {
 public:
  virtual ~PageConverter() = default;
  // Bytes the page does not define, and a lead byte without its trail, become the page's
  // default character, as the device decodes with flags 0. False only with failOnInvalid and
  // such a byte, or when the conversion cannot be done at all.
  virtual bool toWide(const char* text, size_t size, const DecodeOptions& options,
                      std::wstring& out) = 0;
  // Characters the page cannot hold become `defaultChar`, or the page's own '?' when it is
  // null, and set `replaced`; a character the page holds only by best fit takes its best fit.
  // Nothing is ever left out. False when the conversion cannot be done at all.
  virtual bool fromWide(const wchar_t* text, size_t size, const char* defaultChar,
                        std::string& out, bool& replaced) = 0;
  // True when `character` has bytes of its own in the page (best fit included).
  virtual bool holds(char32_t character) = 0;
};

// Null when the converter is missing from this system's ICU data or iconv.
std::unique_ptr<PageConverter> openIcuConverter(const char* name);
std::unique_ptr<PageConverter> openIconvConverter(const char* name);
std::unique_ptr<PageConverter> openSingleByteConverter(UINT codePage);
std::unique_ptr<PageConverter> openDoubleByteConverter(const CodePageConverter& entry);
std::unique_ptr<PageConverter> openUtf7Converter();

}  // namespace ce::kernel
