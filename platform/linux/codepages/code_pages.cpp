// MultiByteToWideChar and WideCharToMultiByte: UTF-8 by our own codec, every other code page
// through the converter the code-page table names. Converters are opened once per code page and
// kept; one whose page is unsupported is remembered as such.
//
// With flags 0, as every caller converts, nothing fails on content: a byte the page does not
// define becomes the page's default character and a character the page lacks its best fit or
// the default character; only MB_ERR_INVALID_CHARS turns an undefined byte into
// ERROR_NO_UNICODE_TRANSLATION. The flags are the device's (docs/code-pages.md); others give
// ERROR_INVALID_FLAGS.

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/codepages/code_page_table.h"
#include "platform/linux/kernel/kernel.h"
#include "platform/linux/kernel/kernel_state.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/codepages/page_converter.h"
#include "platform/linux/icu/lazy_icu.h"
#include "platform/linux/kernel/utf8.h"

namespace {

std::mutex cacheMutex;
std::map<UINT, std::unique_ptr<ce::kernel::PageConverter>> converters;

// The page's converter, or null when the page is unsupported; the caller holds cacheMutex.
ce::kernel::PageConverter* converterOf(UINT codePage) {
  auto it = converters.find(codePage);
  if (it != converters.end()) return it->second.get();
  std::unique_ptr<ce::kernel::PageConverter> opened;
  if (const auto* entry = ce::kernel::converterFor(codePage)) {
    switch (entry->kind) {
      case ce::kernel::ConverterKind::singleByte:
        opened = ce::kernel::openSingleByteConverter(codePage);
        break;
      case ce::kernel::ConverterKind::doubleByte:
        opened = ce::kernel::openDoubleByteConverter(*entry);
        break;
      case ce::kernel::ConverterKind::utf7:
        opened = ce::kernel::openUtf7Converter();
        break;
      case ce::kernel::ConverterKind::icu:
        opened = ce::kernel::openIcuConverter(entry->name);
        break;
      case ce::kernel::ConverterKind::iconv:
        opened = ce::kernel::openIconvConverter(entry->name);
        break;
    }
  }
  return converters.emplace(codePage, std::move(opened)).first->second.get();
}

int fail(DWORD code) {
  SetLastError(code);
  return 0;
}

// Pages that take no flags and no default character (the stateful pages, UTF-7, UTF-8).
bool isFlaglessPage(UINT codePage) {
  return codePage == 42 || codePage == 52936 || codePage == 54936 || codePage == 65000 ||
         codePage == CP_UTF8 || (codePage >= 50220 && codePage <= 50229) ||
         (codePage >= 57002 && codePage <= 57011);
}

bool validDecodeFlags(UINT codePage, DWORD flags) {
  if (isFlaglessPage(codePage)) return (flags & ~DWORD{MB_ERR_INVALID_CHARS}) == 0 &&
                                       (flags == 0 || codePage == CP_UTF8 || codePage == 54936);
  constexpr DWORD known = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
  return (flags & ~known) == 0 && (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) !=
                                      (MB_PRECOMPOSED | MB_COMPOSITE);
}

bool validEncodeFlags(UINT codePage, DWORD flags) {
  if (isFlaglessPage(codePage)) return flags == 0;
  constexpr DWORD known = WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR;
  return (flags & ~known) == 0;
}

// MB_COMPOSITE: each precomposed character as its base and nonspacing marks. Hangul syllables
// stay whole: the device decomposes letters with marks, not syllables.
std::wstring decomposed(const std::wstring& text) {
  const auto& icu = ce::icu::functions();
  UErrorCode error = U_ZERO_ERROR;
  const UNormalizer2* nfd = icu.nfdInstance(&error);
  if (U_FAILURE(error)) return text;
  std::wstring out;
  for (wchar_t c : text) {
    UChar parts[8];
    error = U_ZERO_ERROR;
    int32_t n = c >= 0xAC00 && c <= 0xD7A3
                    ? -1
                    : icu.decomposition(nfd, static_cast<UChar32>(c), parts, 8, &error);
    if (n <= 0 || U_FAILURE(error)) {
      out += c;
      continue;
    }
    for (int32_t i = 0; i < n; ++i) out += static_cast<wchar_t>(parts[i]);  // all in the BMP
  }
  return out;
}

// WC_COMPOSITECHECK: a base followed by nonspacing marks becomes the precomposed character where
// the page holds one; otherwise the marks stay separate (WC_SEPCHARS), are dropped
// (WC_DISCARDNS), or the whole becomes the default character (WC_DEFAULTCHAR, marked by
// U+FFFF, which no page holds).
std::wstring composedForPage(const wchar_t* text, size_t size, DWORD flags,
                             ce::kernel::PageConverter& converter) {
  const auto& icu = ce::icu::functions();
  UErrorCode error = U_ZERO_ERROR;
  const UNormalizer2* nfc = icu.nfcInstance(&error);
  std::wstring out;
  for (size_t i = 0; i < size; ++i) {
    auto base = static_cast<UChar32>(text[i]);
    while (i + 1 < size && icu.charType(static_cast<UChar32>(text[i + 1])) == U_NON_SPACING_MARK) {
      auto mark = static_cast<UChar32>(text[i + 1]);
      UChar32 both = U_SUCCESS(error) ? icu.composePair(nfc, base, mark) : -1;
      bool composes = both >= 0 && converter.holds(static_cast<char32_t>(both));
      if (!composes && !(flags & (WC_DISCARDNS | WC_DEFAULTCHAR))) break;  // WC_SEPCHARS
      if (composes) base = both;
      else if (flags & WC_DEFAULTCHAR) base = 0xFFFF;
      ++i;  // the mark is taken into the base, or dropped
    }
    out += static_cast<wchar_t>(base);
  }
  return out;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textBytes, LPWSTR out,
                        int outChars) {
  if (!text || textBytes == 0 || textBytes < -1 || outChars < 0 || (!out && outChars != 0))
    return fail(ERROR_INVALID_PARAMETER);
  if (!validDecodeFlags(codePage, flags)) return fail(ERROR_INVALID_FLAGS);
  size_t size = textBytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textBytes);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  if (codePage == CP_UTF8) {
    long n = ce::utf8::toWide(text, size, out, static_cast<size_t>(outChars),
                              strict ? ce::utf8::InvalidBytes::fail
                                     : ce::utf8::InvalidBytes::replace);
    if (n < 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
    if (outChars != 0 && n > outChars) return fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(n);
  }
  std::wstring converted;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto* converter = converterOf(codePage);
    if (!converter) return fail(ERROR_INVALID_PARAMETER);
    ce::kernel::DecodeOptions options{strict, (flags & MB_USEGLYPHCHARS) != 0};
    if (!converter->toWide(text, size, options, converted))
      return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  if (flags & MB_COMPOSITE) converted = decomposed(converted);
  size_t n = converted.size();
  if (outChars == 0) return static_cast<int>(n);
  if (n > static_cast<size_t>(outChars)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, converted.data(), n * sizeof(wchar_t));
  return static_cast<int>(n);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textChars, LPSTR out,
                        int outBytes, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (!text || textChars == 0 || textChars < -1 || outBytes < 0 || (!out && outBytes != 0))
    return fail(ERROR_INVALID_PARAMETER);
  if (!validEncodeFlags(codePage, flags)) return fail(ERROR_INVALID_FLAGS);
  // These pages have no default character of their own to report.
  if (isFlaglessPage(codePage) && (defaultChar || usedDefaultChar))
    return fail(ERROR_INVALID_PARAMETER);
  size_t size = textChars == -1 ? std::wcslen(text) + 1 : static_cast<size_t>(textChars);
  if (usedDefaultChar) *usedDefaultChar = FALSE;
  if (codePage == CP_UTF8) {
    // What cannot be encoded (a lone surrogate) becomes U+FFFD.
    long n = ce::utf8::fromWide(text, size, out, static_cast<size_t>(outBytes),
                                ce::utf8::InvalidChars::replace);
    if (outBytes != 0 && n > outBytes) return fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(n);
  }
  std::string converted;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto* converter = converterOf(codePage);
    if (!converter) return fail(ERROR_INVALID_PARAMETER);
    bool replaced = false;
    bool done = flags & WC_COMPOSITECHECK
                    ? [&] {
                        std::wstring composed = composedForPage(text, size, flags, *converter);
                        return converter->fromWide(composed.data(), composed.size(), defaultChar,
                                                   converted, replaced);
                      }()
                    : converter->fromWide(text, size, defaultChar, converted, replaced);
    if (!done) return fail(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefaultChar) *usedDefaultChar = replaced ? TRUE : FALSE;
  }
  if (outBytes == 0) return static_cast<int>(converted.size());
  if (converted.size() > static_cast<size_t>(outBytes)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, converted.data(), converted.size());
  return static_cast<int>(converted.size());
}

namespace {
void resetCodePages() {
  std::lock_guard<std::mutex> lock(cacheMutex);
  converters.clear();
}
[[maybe_unused]] const bool resetCodePagesHooked = (ce::addResetHook(&resetCodePages), true);
}  // namespace
