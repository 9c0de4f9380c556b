// Code pages through glibc's iconv, for the few whose table ICU's data lacks (20423, 20880,
// 20905). Descriptors are opened once, one per direction.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/codepages/page_converter.h"

namespace ce::kernel {

namespace {

const iconv_t noDescriptor = reinterpret_cast<iconv_t>(-1);

// What to do with input iconv cannot convert: fail, or skip `unit` bytes of it and write
// `replacement` instead.
struct Replacement {
  bool enabled;
  size_t unit;
  std::string bytes;
};

// Runs the whole input through `cd`; false on input it cannot convert, unless replacing.
bool runIconv(iconv_t cd, const char* in, size_t inBytes, std::string& out,
              const Replacement& bad, bool& replaced) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.clear();
  char buffer[1024];
  auto* input = const_cast<char*>(in);
  size_t left = inBytes;
  bool flushed = false;
  for (;;) {
    char* output = buffer;
    size_t room = sizeof buffer;
    size_t rc = left ? iconv(cd, &input, &left, &output, &room)
                     : iconv(cd, nullptr, nullptr, &output, &room);  // flush shift state
    out.append(buffer, static_cast<size_t>(output - buffer));
    if (rc != static_cast<size_t>(-1)) {
      if (left == 0) {
        if (flushed) return true;
        flushed = true;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    if ((errno == EILSEQ || errno == EINVAL) && bad.enabled && left >= bad.unit) {
      input += bad.unit;
      left -= bad.unit;
      out.append(bad.bytes);
      replaced = true;
      continue;
    }
    return false;
  }
}

class IconvPageConverter : public PageConverter {
 public:
  IconvPageConverter(iconv_t toWide, iconv_t fromWide) : toWide_(toWide), fromWide_(fromWide) {
    static const wchar_t question = L'?';
    bool unused = false;
    if (!runIconv(fromWide_, reinterpret_cast<const char*>(&question), sizeof question,
                  question_, Replacement{false, 0, ""}, unused))
      question_.assign(1, '?');
  }
  ~IconvPageConverter() override {
    iconv_close(toWide_);
    iconv_close(fromWide_);
  }
  IconvPageConverter(const IconvPageConverter&) = delete;
  IconvPageConverter& operator=(const IconvPageConverter&) = delete;

  bool toWide(const char* text, size_t size, const DecodeOptions& options,
              std::wstring& out) override {
    std::string bytes;
    bool unused = false;
    const wchar_t substitute = 0xFFFD;
    Replacement bad{!options.failOnInvalid, 1,
                    std::string(reinterpret_cast<const char*>(&substitute), sizeof substitute)};
    if (!runIconv(toWide_, text, size, bytes, bad, unused)) return false;
    out.assign(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(wchar_t));
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char* defaultChar, std::string& out,
                bool& replaced) override {
    return runIconv(fromWide_, reinterpret_cast<const char*>(text), size * sizeof(wchar_t), out,
                    Replacement{true, sizeof(wchar_t), defaultChar ? defaultChar : question_},
                    replaced);
  }

  bool holds(char32_t c) override {
    const auto one = static_cast<wchar_t>(c);
    std::string bytes;
    bool replaced = false;
    return fromWide(&one, 1, nullptr, bytes, replaced) && !replaced;
  }

 private:
  iconv_t toWide_;
  iconv_t fromWide_;
  std::string question_;
};

}  // namespace

std::unique_ptr<PageConverter> openIconvConverter(const char* name) {
  iconv_t toWide = iconv_open("WCHAR_T", name);
  if (toWide == noDescriptor) return nullptr;
  iconv_t fromWide = iconv_open(name, "WCHAR_T");
  if (fromWide == noDescriptor) {
    iconv_close(toWide);
    return nullptr;
  }
  return std::make_unique<IconvPageConverter>(toWide, fromWide);
}

}  // namespace ce::kernel
