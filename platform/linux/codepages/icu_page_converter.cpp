// The stateful pages (ISO-2022, HZ, UTF-7, ISCII), the EBCDIC double-byte pages, UTF-16 and the
// EUC pages through ICU as it is. ICU's fallback mappings stay off: for these pages they are
// IBM's, not the vendor's best fits. A byte the page does not define becomes ICU's substitute
// character (U+FFFD, or U+001A on EBCDIC), and a character the page lacks becomes the page's
// own '?', default-ignorable characters included: ICU's substitute callback would drop those.

#include <vector>

#include "platform/linux/codepages/icu_converter.h"
#include "platform/linux/codepages/page_converter.h"
#include "platform/linux/kernel/utf16.h"

namespace ce::kernel {

namespace {


// Writes the substitution bytes for every character the page lacks and records that it did.
// ICU's own UCNV_FROM_U_CALLBACK_SUBSTITUTE writes nothing for a default-ignorable character
// (U+00AD, U+200B, U+FEFF, ...), which would drop it from the text unseen.
void substituteAndRecord(const void* context, UConverterFromUnicodeArgs* args, const UChar*,
                         int32_t, UChar32, UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;
  *static_cast<bool*>(const_cast<void*>(context)) = true;
  *error = U_ZERO_ERROR;
  icu::functions().writeSubstitute(args, 0, error);
}

class IcuPageConverter : public PageConverter {
 public:
  explicit IcuPageConverter(IcuConverter converter)
      : icu_(icu::functions()), converter_(std::move(converter)) {
    icu_.setFallback(converter_.get(), false);
    // The page's own question mark, so EBCDIC and UTF-16 pages get theirs.
    const UChar question[] = {u'?'};
    char bytes[8];
    UErrorCode error = U_ZERO_ERROR;
    int32_t n = icu_.fromUChars(converter_.get(), bytes, sizeof bytes, question, 1, &error);
    if (U_SUCCESS(error)) question_.assign(bytes, static_cast<size_t>(n));
  }

  bool toWide(const char* text, size_t size, const DecodeOptions& options,
              std::wstring& out) override {
    UErrorCode error = U_ZERO_ERROR;
    icu_.setToUCallBack(converter_.get(),
                        options.failOnInvalid ? icu_.toUnicodeStop
                                              : icu_.toUnicodeSubstitute,
                        nullptr, nullptr, nullptr, &error);
    std::vector<UChar> units(size + 8);
    for (;;) {
      error = U_ZERO_ERROR;
      icu_.resetToUnicode(converter_.get());
      int32_t n = icu_.toUChars(converter_.get(), units.data(), static_cast<int32_t>(units.size()),
                                text, static_cast<int32_t>(size), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        units.resize(static_cast<size_t>(n) + 1);
        continue;
      }
      if (U_FAILURE(error)) return false;
      units.resize(static_cast<size_t>(n));
      break;
    }
    assignWideFromUtf16(std::u16string_view(units.data(), units.size()), out);
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
      icu_.setSubstChars(converter_.get(), substitute.data(),
                         static_cast<int8_t>(substitute.size()), &error);
    if (U_FAILURE(error)) return false;
    bool substituted = false;
    icu_.setFromUCallBack(converter_.get(), substituteAndRecord, &substituted, nullptr, nullptr,
                          &error);
    out.resize(units.size() * 4 + 16);
    for (;;) {
      error = U_ZERO_ERROR;
      icu_.resetFromUnicode(converter_.get());
      int32_t n = icu_.fromUChars(converter_.get(), out.data(), static_cast<int32_t>(out.size()),
                                  units.data(), static_cast<int32_t>(units.size()), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<size_t>(n) + 1);
        substituted = false;
        continue;
      }
      if (U_FAILURE(error)) return false;
      out.resize(static_cast<size_t>(n));
      break;
    }
    replaced = replaced || substituted;
    return true;
  }

  bool holds(char32_t c) override {
    std::wstring one(1, static_cast<wchar_t>(c));
    std::string bytes;
    bool replaced = false;
    return fromWide(one.data(), 1, nullptr, bytes, replaced) && !replaced;
  }

 private:
  const icu::Functions& icu_;
  IcuConverter converter_;
  std::string question_;
};

}  // namespace

std::unique_ptr<PageConverter> openIcuConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  IcuConverter converter(icu::functions().open(name, &error));
  if (U_FAILURE(error) || !converter) return nullptr;
  return std::make_unique<IcuPageConverter>(std::move(converter));
}

}  // namespace ce::kernel
