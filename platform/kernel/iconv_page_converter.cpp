// Code pages through glibc's iconv, for the few whose table ICU's data lacks. Descriptors are
// opened once, one per direction.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/kernel/page_converter.h"

namespace ce::kernel {

namespace {

const iconv_t noDescriptor = reinterpret_cast<iconv_t>(-1);

// Runs the whole input through `cd`; false on bytes the code page cannot hold or decode,
// unless `replaceBad`, which puts `replacement` for each such wide character.
bool runIconv(iconv_t cd, const char* in, size_t inBytes, std::string& out, bool replaceBad,
              const std::string& replacement, bool& replaced) {
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
    if (errno == EILSEQ && replaceBad && left >= sizeof(wchar_t)) {
      input += sizeof(wchar_t);
      left -= sizeof(wchar_t);
      out.append(replacement.data(), replacement.size());
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
                  question_, false, "", unused))
      question_.assign(1, '?');
  }
  ~IconvPageConverter() override {
    iconv_close(toWide_);
    iconv_close(fromWide_);
  }
  IconvPageConverter(const IconvPageConverter&) = delete;
  IconvPageConverter& operator=(const IconvPageConverter&) = delete;

  bool toWide(const char* text, size_t size, std::wstring& out) override {
    std::string bytes;
    bool unused = false;
    if (!runIconv(toWide_, text, size, bytes, false, "", unused)) return false;
    out.assign(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(wchar_t));
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char* defaultChar, std::string& out,
                bool& replaced) override {
    return runIconv(fromWide_, reinterpret_cast<const char*>(text), size * sizeof(wchar_t), out,
                    true, defaultChar ? std::string(defaultChar) : question_, replaced);
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
