// One code page's conversions to and from wide text, behind ICU or iconv. Platform-internal.
#pragma once

#include <memory>
#include <string>

#include "platform/kernel/code_page_table.h"

namespace ce::kernel {

class PageConverter {
 public:
  virtual ~PageConverter() = default;
  // False when a byte sequence is invalid or has no character in the page.
  virtual bool toWide(const char* text, size_t size, std::wstring& out) = 0;
  // Characters the page cannot hold become `defaultChar`, or the page's own '?' when it is
  // null, and set `replaced`. False when the conversion cannot be done at all.
  virtual bool fromWide(const wchar_t* text, size_t size, const char* defaultChar,
                        std::string& out, bool& replaced) = 0;
};

// Null when the converter is missing from this system's ICU data or iconv.
std::unique_ptr<PageConverter> openIcuConverter(const char* name);
std::unique_ptr<PageConverter> openIconvConverter(const char* name);

}  // namespace ce::kernel
