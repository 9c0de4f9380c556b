// Code pages through ICU. Fallback mappings stay off in both directions: a character the page
// has no exact byte for is replaced, never guessed at ("best fit"), and a byte the page does
// not define stops the conversion.
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <cstring>
#include <vector>

#include "platform/kernel/page_converter.h"

namespace ce::kernel {

namespace {

struct CloseConverter {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, CloseConverter>;

// Records that a replacement was made, then lets ICU write the substitution bytes.
void substituteAndRecord(const void* context, UConverterFromUnicodeArgs* args,
                         const UChar* units, int32_t length, UChar32 codePoint,
                         UConverterCallbackReason reason, UErrorCode* error) {
  if (reason <= UCNV_IRREGULAR) *static_cast<bool*>(const_cast<void*>(context)) = true;
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, error);
}

class IcuPageConverter : public PageConverter {
 public:
  explicit IcuPageConverter(Converter converter) : converter_(std::move(converter)) {
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setFallback(converter_.get(), false);
    ucnv_setToUCallBack(converter_.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &error);
    // The page's own question mark, so EBCDIC and UTF-16 pages get theirs.
    const UChar question[] = {u'?'};
    char bytes[8];
    error = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(converter_.get(), bytes, sizeof bytes, question, 1, &error);
    if (U_SUCCESS(error)) question_.assign(bytes, static_cast<size_t>(n));
  }

  bool toWide(const char* text, size_t size, std::wstring& out) override {
    std::vector<UChar> units(size + 8);
    int32_t n = 0;
    for (;;) {
      UErrorCode error = U_ZERO_ERROR;
      n = ucnv_toUChars(converter_.get(), units.data(), static_cast<int32_t>(units.size()), text,
                        static_cast<int32_t>(size), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        units.resize(static_cast<size_t>(n) + 1);
        continue;
      }
      if (U_FAILURE(error)) return false;
      break;
    }
    out.clear();
    out.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
      char32_t unit = units[static_cast<size_t>(i)];
      if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < n && units[static_cast<size_t>(i) + 1] >= 0xDC00 &&
          units[static_cast<size_t>(i) + 1] < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (units[static_cast<size_t>(++i)] - 0xDC00);
      }
      out += static_cast<wchar_t>(unit);
    }
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char* defaultChar, std::string& out,
                bool& replaced) override {
    std::vector<UChar> units;
    units.reserve(size);
    for (size_t i = 0; i < size; ++i) {
      auto c = static_cast<char32_t>(text[i]);
      if (c < 0x10000) {
        units.push_back(static_cast<UChar>(c));
      } else if (c <= 0x10FFFF) {
        units.push_back(static_cast<UChar>(0xD7C0 + (c >> 10)));
        units.push_back(static_cast<UChar>(0xDC00 + (c & 0x3FF)));
      } else {
        units.push_back(0xDFFF);  // no such character: a lone surrogate is replaced
      }
    }
    UErrorCode error = U_ZERO_ERROR;
    const std::string substitute = defaultChar ? std::string(defaultChar) : question_;
    if (!substitute.empty())
      ucnv_setSubstChars(converter_.get(), substitute.data(),
                         static_cast<int8_t>(substitute.size()), &error);
    if (U_FAILURE(error)) return false;
    ucnv_setFromUCallBack(converter_.get(), substituteAndRecord, &replaced, nullptr, nullptr,
                          &error);
    out.assign(units.size() * 4 + 16, '\0');
    for (;;) {
      error = U_ZERO_ERROR;
      int32_t n = ucnv_fromUChars(converter_.get(), out.data(), static_cast<int32_t>(out.size()),
                                  units.data(), static_cast<int32_t>(units.size()), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(n) + 1, '\0');
        continue;
      }
      if (U_FAILURE(error)) return false;
      out.resize(static_cast<size_t>(n));
      return true;
    }
  }

 private:
  Converter converter_;
  std::string question_;
};

}  // namespace

std::unique_ptr<PageConverter> openIcuConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &error));
  if (U_FAILURE(error) || !converter) return nullptr;
  return std::make_unique<IcuPageConverter>(std::move(converter));
}

}  // namespace ce::kernel
