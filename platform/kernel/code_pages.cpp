// MultiByteToWideChar and WideCharToMultiByte: UTF-8 by our own strict codec, every other code
// page through iconv. Descriptors are opened once per code page and direction and kept.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/kernel.h"
#include "platform/kernel/kernel_state.h"
#include "platform/kernel/utf8.h"

namespace {

// The code pages of the charset table, by the names glibc's iconv knows them by. A code page
// missing here, or one this iconv lacks, fails with ERROR_INVALID_PARAMETER as an unsupported
// code page does on the device.
const std::map<UINT, const char*>& iconvNames() {
  static const std::map<UINT, const char*> names = {
      {37, "IBM037"},       {437, "IBM437"},       {708, "ISO-8859-6"},   {737, "CP737"},
      {775, "CP775"},       {850, "IBM850"},       {852, "IBM852"},       {857, "IBM857"},
      {861, "IBM861"},      {862, "IBM862"},       {866, "IBM866"},       {869, "IBM869"},
      {870, "IBM870"},      {874, "TIS-620"},      {875, "IBM875"},       {932, "CP932"},
      {936, "CP936"},       {949, "CP949"},        {950, "BIG5"},         {1026, "IBM1026"},
      {1140, "IBM1140"},    {1141, "IBM1141"},     {1142, "IBM1142"},     {1143, "IBM1143"},
      {1144, "IBM1144"},    {1145, "IBM1145"},     {1146, "IBM1146"},     {1147, "IBM1147"},
      {1148, "IBM1148"},    {1149, "IBM1149"},     {1200, "UTF-16LE"},    {1201, "UTF-16BE"},
      {1250, "CP1250"},     {1251, "CP1251"},      {1252, "CP1252"},      {1253, "CP1253"},
      {1254, "CP1254"},     {1255, "CP1255"},      {1256, "CP1256"},      {1257, "CP1257"},
      {1258, "CP1258"},     {1361, "JOHAB"},       {10000, "MACINTOSH"},  {10007, "MAC-CYRILLIC"},
      {10079, "MAC-IS"},    {20127, "ASCII"},      {20273, "IBM273"},     {20277, "IBM277"},
      {20278, "IBM278"},    {20280, "IBM280"},     {20284, "IBM284"},     {20285, "IBM285"},
      {20290, "IBM290"},    {20420, "IBM420"},     {20423, "IBM423"},     {20424, "IBM424"},
      {20833, "IBM833"},    {20838, "IBM838"},     {20866, "KOI8-R"},     {20871, "IBM871"},
      {20880, "IBM880"},    {20905, "IBM905"},     {21025, "IBM1025"},    {21866, "KOI8-U"},
      {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"}, {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"},
      {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"}, {28598, "ISO-8859-8"},
      {28599, "ISO-8859-9"}, {28605, "ISO-8859-15"}, {38598, "ISO-8859-8"}, {50220, "ISO-2022-JP"},
      {50221, "ISO-2022-JP"}, {50222, "ISO-2022-JP"}, {50225, "ISO-2022-KR"}, {50930, "IBM930"},
      {50933, "IBM933"},    {50935, "IBM935"},     {50937, "IBM937"},     {50939, "IBM939"},
      {51932, "EUC-JP"},    {51936, "EUC-CN"},     {51949, "EUC-KR"},     {65000, "UTF-7"},
  };
  return names;
}

std::mutex cacheMutex;
std::map<std::pair<UINT, bool>, iconv_t> descriptors;  // (code page, to wide)

// An open descriptor, or (iconv_t)-1; the caller holds cacheMutex.
iconv_t descriptorFor(UINT codePage, bool toWide) {
  auto key = std::make_pair(codePage, toWide);
  auto it = descriptors.find(key);
  if (it != descriptors.end()) return it->second;
  auto name = iconvNames().find(codePage);
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  if (name != iconvNames().end())
    cd = toWide ? iconv_open("WCHAR_T", name->second) : iconv_open(name->second, "WCHAR_T");
  descriptors.emplace(key, cd);
  return cd;
}

// Runs the whole input through `cd`; false on bytes the code page cannot hold or decode.
bool runIconv(iconv_t cd, const char* in, size_t inBytes, std::string& out, bool replaceBad,
              const std::string& replacement, bool& replaced) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.clear();
  char buffer[1024];
  auto* input = const_cast<char*>(in);
  size_t left = inBytes;
  for (;;) {
    char* output = buffer;
    size_t room = sizeof buffer;
    size_t rc = left ? iconv(cd, &input, &left, &output, &room)
                     : iconv(cd, nullptr, nullptr, &output, &room);  // flush shift state
    out.append(buffer, static_cast<size_t>(output - buffer));
    if (rc != static_cast<size_t>(-1)) {
      if (left == 0) {
        if (input == nullptr) return true;
        input = nullptr;  // one more round to flush
        continue;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    if (errno == EILSEQ && replaceBad && left >= sizeof(wchar_t)) {
      input += sizeof(wchar_t);
      left -= sizeof(wchar_t);
      out += replacement;
      replaced = true;
      continue;
    }
    return false;
  }
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
  std::string converted;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    iconv_t cd = descriptorFor(codePage, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) return fail(ERROR_INVALID_PARAMETER);
    bool replaced = false;
    if (!runIconv(cd, text, size, converted, false, "", replaced))
      return fail(ERROR_NO_UNICODE_TRANSLATION);
  }
  size_t n = converted.size() / sizeof(wchar_t);
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
    iconv_t cd = descriptorFor(codePage, false);
    if (cd == reinterpret_cast<iconv_t>(-1)) return fail(ERROR_INVALID_PARAMETER);
    std::string replacement;
    if (defaultChar) {
      replacement.assign(defaultChar, std::strlen(defaultChar));
    } else {
      // The code page's own question mark, so UTF-16 and EBCDIC get theirs.
      static const wchar_t question = L'?';
      bool unused = false;
      if (!runIconv(cd, reinterpret_cast<const char*>(&question), sizeof question, replacement,
                    false, "", unused))
        replacement.assign(1, '?');
    }
    bool replaced = false;
    if (!runIconv(cd, reinterpret_cast<const char*>(text), size * sizeof(wchar_t), converted,
                  true, replacement, replaced))
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
  for (auto& [key, cd] : descriptors)
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  descriptors.clear();
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
