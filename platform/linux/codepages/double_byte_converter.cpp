// Lead-byte pages (932, 936, 949, 950) as the device converts them, with ICU's copy of the
// vendor's table behind them. The device reads a lead byte and whatever byte follows as one
// pair: a pair without a character, and a lead byte with nothing after it, become the page's
// default character. ICU reads an invalid trail byte as a character of its own, so the tables
// are taken from ICU one byte and one pair at a time, once per page, and the conversions run on
// them. ICU's fallback mappings are IBM's, not the vendor's: best fits come from the vendor's
// table (single_byte_tables.cpp).

#include <cstring>
#include <vector>

#include "platform/linux/codepages/icu_converter.h"
#include "platform/linux/codepages/page_converter.h"
#include "platform/linux/codepages/single_byte_tables.h"

namespace ce::kernel {

namespace {

constexpr char16_t kUndefined = 0xFFFF;
constexpr unsigned short kNoBytes = 0xFFFF;

// Where the device's table adds to the IBM table ICU carries: single bytes ICU leaves undefined,
// and the controls 1A/1C/7F, which IBM rotates (1A -> U+001C) and the device keeps as they are.
struct SingleByte {
  unsigned char byte;
  char16_t character;
};
struct Additions {
  const char* converter;
  std::vector<SingleByte> bytes;
};

const Additions* additionsFor(const char* converter) {
  static const Additions all[] = {
      {"ibm-943_P15A-2003",
       {{0x1A, 0x001A}, {0x1C, 0x001C}, {0x7F, 0x007F}, {0x80, 0x0080}, {0xA0, 0xF8F0},
        {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}}},
  };
  for (const auto& entry : all)
    if (std::strcmp(entry.converter, converter) == 0) return &entry;
  return nullptr;
}


// The one BMP character `bytes` decode to as a whole, or kUndefined.
char16_t decodeWhole(UConverter* converter, const char* bytes, int32_t size) {
  UChar units[4];
  UErrorCode error = U_ZERO_ERROR;
  const auto& library = icu::functions();
  library.reset(converter);
  int32_t n = library.toUChars(converter, units, 4, bytes, size, &error);
  return U_SUCCESS(error) && n == 1 ? static_cast<char16_t>(units[0]) : kUndefined;
}

// The bytes of `c` (one, or a pair as lead << 8 | trail), best fit included, or kNoBytes.
unsigned short encodeOne(UConverter* converter, char16_t c) {
  char bytes[8];
  UErrorCode error = U_ZERO_ERROR;
  const auto& library = icu::functions();
  library.reset(converter);
  const UChar unit = c;
  int32_t n = library.fromUChars(converter, bytes, sizeof bytes, &unit, 1, &error);
  if (U_FAILURE(error) || n < 1 || n > 2) return kNoBytes;
  auto first = static_cast<unsigned char>(bytes[0]);
  if (n == 1) return first;
  return static_cast<unsigned short>(first << 8 | static_cast<unsigned char>(bytes[1]));
}

class DoubleByteConverter : public PageConverter {
 public:
  DoubleByteConverter(IcuConverter converter, const CodePageConverter& entry)
      : converter_(std::move(converter)), entry_(entry), singles_(256, kUndefined),
        pairs_(256 * 256, kUndefined), bytes_(0x10000, kNoBytes) {
    const auto& library = icu::functions();
    UErrorCode error = U_ZERO_ERROR;
    library.setToUCallBack(converter_.get(), library.toUnicodeStop, nullptr, nullptr, nullptr,
                           &error);
    library.setFromUCallBack(converter_.get(), library.fromUnicodeStop, nullptr, nullptr,
                             nullptr, &error);
    library.setFallback(converter_.get(), false);
    for (int byte = 0; byte < 256; ++byte) {
      char one = static_cast<char>(byte);
      if (isLead(static_cast<unsigned char>(byte))) {
        for (int trail = 1; trail < 256; ++trail) {
          const char pair[2] = {one, static_cast<char>(trail)};
          pairs_[byte << 8 | trail] = decodeWhole(converter_.get(), pair, 2);
        }
      } else {
        singles_[byte] = decodeWhole(converter_.get(), &one, 1);
      }
    }
    // A character read from one byte or pair is written back as it; only one read from several
    // asks ICU which of them the table writes. ICU's other encodings are one-way mappings,
    // IBM's and not the vendor's (ICU uses those from private-use characters even with its
    // fallbacks off), and do not count.
    std::vector<unsigned char> seen(0x10000, 0);
    auto note = [&](char16_t c, unsigned short bytes) {
      if (c == kUndefined) return;
      if (seen[c] < 2) ++seen[c];
      bytes_[c] = bytes;
    };
    for (unsigned byte = 0; byte < 256; ++byte) {
      note(singles_[byte], static_cast<unsigned short>(byte));
      if (isLead(static_cast<unsigned char>(byte)))
        for (unsigned trail = 1; trail < 256; ++trail)
          note(pairs_[byte << 8 | trail], static_cast<unsigned short>(byte << 8 | trail));
    }
    for (unsigned c = 0; c < 0x10000; ++c) {
      if (seen[c] < 2) continue;
      unsigned short bytes = encodeOne(converter_.get(), static_cast<char16_t>(c));
      bytes_[c] = bytes != kNoBytes && decoded(bytes) == c ? bytes : kNoBytes;
    }
    for (size_t i = 0; i < doubleByteFitsCount; ++i) {
      if (doubleByteFits[i].codePage != entry_.codePage) continue;
      for (size_t j = 0; j < doubleByteFits[i].count; ++j)
        bytes_[doubleByteFits[i].fits[j].character] = doubleByteFits[i].fits[j].bytes;
    }
    if (const Additions* additions = additionsFor(entry_.name)) {
      for (const auto& single : additions->bytes) {
        singles_[single.byte] = single.character;
        bytes_[single.character] = single.byte;
      }
    }
  }

  bool toWide(const char* text, size_t size, const DecodeOptions& options,
              std::wstring& out) override {
    out.clear();
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
      auto byte = static_cast<unsigned char>(text[i]);
      char16_t c;
      if (!isLead(byte)) {
        c = singles_[byte];
      } else if (i + 1 < size && text[i + 1] != '\0') {
        c = pairs_[byte << 8 | static_cast<unsigned char>(text[++i])];
      } else {
        c = kUndefined;  // a lead byte with nothing after it
      }
      if (c == kUndefined) {
        if (options.failOnInvalid) return false;
        c = entry_.defaultCharacter;
      } else if (options.failOnInvalid && c >= 0xE000 && c <= 0xF8FF && !isLead(byte)) {
        return false;  // the device calls a single byte that stands for private use invalid
      }
      out += static_cast<wchar_t>(c);
    }
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char* defaultChar, std::string& out,
                bool& replaced) override {
    out.clear();
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
      auto c = static_cast<char32_t>(text[i]);
      unsigned short bytes = c < 0x10000 ? bytes_[c] : kNoBytes;
      if (bytes != kNoBytes) {
        if (bytes > 0xFF) out += static_cast<char>(bytes >> 8);
        out += static_cast<char>(bytes & 0xFF);
        continue;
      }
      int units = c >= 0x10000 && c <= 0x10FFFF ? 2 : 1;
      for (int unit = 0; unit < units; ++unit) appendDefault(defaultChar, out);
      replaced = true;
    }
    return true;
  }

  bool holds(char32_t c) override { return c < 0x10000 && bytes_[c] != kNoBytes; }

 private:
  char16_t decoded(unsigned short bytes) const {
    return bytes > 0xFF ? pairs_[bytes] : singles_[bytes];
  }

  bool isLead(unsigned char byte) const {
    const unsigned char* r = entry_.leadRanges;
    return (byte >= r[0] && byte <= r[1]) || (r[2] && byte >= r[2] && byte <= r[3]);
  }

  // The caller's default character may be a pair: a lead byte and its trail.
  void appendDefault(const char* defaultChar, std::string& out) const {
    if (!defaultChar) {
      out += '?';
      return;
    }
    out += defaultChar[0];
    if (isLead(static_cast<unsigned char>(defaultChar[0])) && defaultChar[1])
      out += defaultChar[1];
  }

  IcuConverter converter_;
  const CodePageConverter& entry_;
  std::vector<char16_t> singles_;
  std::vector<char16_t> pairs_;
  std::vector<unsigned short> bytes_;
};

}  // namespace

std::unique_ptr<PageConverter> openDoubleByteConverter(const CodePageConverter& entry) {
  UErrorCode error = U_ZERO_ERROR;
  IcuConverter converter(icu::functions().open(entry.name, &error));
  if (U_FAILURE(error) || !converter) return nullptr;
  return std::make_unique<DoubleByteConverter>(std::move(converter), entry);
}

}  // namespace ce::kernel
