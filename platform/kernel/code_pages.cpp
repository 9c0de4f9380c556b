// MultiByteToWideChar and WideCharToMultiByte: UTF-8 by our own strict codec, every other code
// page through the converter the code-page table names. Converters are opened once per code
// page and kept; one whose page is unsupported is remembered as such.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/kernel/code_page_table.h"
#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_state.h"
#include "platform/kernel/page_converter.h"
#include "platform/kernel/utf8.h"

namespace {

std::mutex cacheMutex;
std::map<UINT, std::unique_ptr<ce::kernel::PageConverter>> converters;

// The page's converter, or null when the page is unsupported; the caller holds cacheMutex.
ce::kernel::PageConverter* converterOf(UINT codePage) {
  auto it = converters.find(codePage);
  if (it != converters.end()) return it->second.get();
  std::unique_ptr<ce::kernel::PageConverter> opened;
  if (const auto* entry = ce::kernel::converterFor(codePage))
    opened = entry->kind == ce::kernel::ConverterKind::icu
                 ? ce::kernel::openIcuConverter(entry->name)
                 : ce::kernel::openIconvConverter(entry->name);
  return converters.emplace(codePage, std::move(opened)).first->second.get();
}

int fail(DWORD code) {
  SetLastError(code);
  return 0;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR text, int textBytes, LPWSTR out,
                        int outChars) {
  if (!text || textBytes == 0 || textBytes < -1 || outChars < 0 || (!out && outChars != 0))
    return fail(ERROR_INVALID_PARAMETER);
  size_t size = textBytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textBytes);
  if (codePage == CP_UTF8) {
    long n = ce::utf8::toWide(text, size, out, static_cast<size_t>(outChars),
                              ce::utf8::InvalidBytes::fail);
    if (n < 0) return fail(ERROR_NO_UNICODE_TRANSLATION);
    if (outChars != 0 && n > outChars) return fail(ERROR_INSUFFICIENT_BUFFER);
    return static_cast<int>(n);
  }
  std::wstring converted;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto* converter = converterOf(codePage);
    if (!converter) return fail(ERROR_INVALID_PARAMETER);
    if (!converter->toWide(text, size, converted)) return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  size_t n = converted.size();
  if (outChars == 0) return static_cast<int>(n);
  if (n > static_cast<size_t>(outChars)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, converted.data(), n * sizeof(wchar_t));
  return static_cast<int>(n);
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR text, int textChars, LPSTR out,
                        int outBytes, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (!text || textChars == 0 || textChars < -1 || outBytes < 0 || (!out && outBytes != 0))
    return fail(ERROR_INVALID_PARAMETER);
  size_t size = textChars == -1 ? std::wcslen(text) + 1 : static_cast<size_t>(textChars);
  if (usedDefaultChar) *usedDefaultChar = FALSE;
  if (codePage == CP_UTF8) {
    // The device refuses a default character for UTF-8; what cannot be encoded becomes U+FFFD.
    if (defaultChar || usedDefaultChar) return fail(ERROR_INVALID_PARAMETER);
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
    if (!converter->fromWide(text, size, defaultChar, converted, replaced))
      return fail(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefaultChar) *usedDefaultChar = replaced ? TRUE : FALSE;
  }
  if (outBytes == 0) return static_cast<int>(converted.size());
  if (converted.size() > static_cast<size_t>(outBytes)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, converted.data(), converted.size());
  return static_cast<int>(converted.size());
}

namespace ce::kernel {
void resetCodePages() {
  std::lock_guard<std::mutex> lock(cacheMutex);
  converters.clear();
}
}  // namespace ce::kernel

namespace ce {
void resetKernelState() {
  kernel::resetNamedMutexes();
  kernel::resetDeviceHome();
  kernel::resetClock();
  kernel::resetCodePages();
}
}  // namespace ce
