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

// Where the device's table adds to the IBM table ICU carries: single bytes ICU leaves undefined,
// and the controls 1A/1C/7F, which IBM rotates (1A -> U+001C) and the device keeps as they are.
struct SingleByte {
  unsigned char byte;
  UChar character;
};
struct Additions {
  const char* converter;
  bool plainControls;
  std::vector<SingleByte> bytes;
};

const Additions* additionsFor(const char* converter) {
  static const Additions all[] = {
      {"ibm-943_P15A-2003", true,
       {{0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}}},
      // The vendor's table fills the page's gaps with the C1 controls of the same number.
      {"ibm-720_P100-1997", true,
       {{0x80, 0x80}, {0x81, 0x81}, {0x84, 0x84}, {0x86, 0x86}, {0x8D, 0x8D}, {0x8E, 0x8E},
        {0x8F, 0x8F}, {0x90, 0x90}}},
  };
  for (const auto& entry : all)
    if (std::strcmp(entry.converter, converter) == 0) return &entry;
  return nullptr;
}

bool isRotatedControl(unsigned c) { return c == 0x1A || c == 0x1C || c == 0x7F; }

struct CloseConverter {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, CloseConverter>;

struct EncodeState {
  const Additions* additions;
  bool replaced;
};

// Writes the device's own byte for a character ICU's table lacks; otherwise records that a
// replacement was made and lets ICU write the substitution bytes.
void substituteAndRecord(const void* context, UConverterFromUnicodeArgs* args,
                         const UChar* units, int32_t length, UChar32 codePoint,
                         UConverterCallbackReason reason, UErrorCode* error) {
  auto* state = static_cast<EncodeState*>(const_cast<void*>(context));
  if (reason == UCNV_UNASSIGNED && state->additions) {
    for (const auto& single : state->additions->bytes) {
      if (single.character != codePoint) continue;
      *error = U_ZERO_ERROR;
      ucnv_cbFromUWriteBytes(args, reinterpret_cast<const char*>(&single.byte), 1, 0, error);
      return;
    }
  }
  if (reason <= UCNV_IRREGULAR) state->replaced = true;
  UCNV_FROM_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, codePoint, reason, error);
}

// Takes the device's own character for a single byte ICU's table lacks; anything else stops.
void addedBytesOrStop(const void* context, UConverterToUnicodeArgs* args, const char* bytes,
                      int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
  const auto* additions = static_cast<const Additions*>(context);
  if (reason > UCNV_IRREGULAR || length != 1) return;
  for (const auto& single : additions->bytes) {
    if (single.byte != static_cast<unsigned char>(bytes[0])) continue;
    *error = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &single.character, 1, 0, error);
    return;
  }
}

class IcuPageConverter : public PageConverter {
 public:
  IcuPageConverter(Converter converter, const Additions* additions)
      : converter_(std::move(converter)), additions_(additions) {
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setFallback(converter_.get(), false);
    if (additions_)
      ucnv_setToUCallBack(converter_.get(), addedBytesOrStop, additions_, nullptr, nullptr, &error);
    else
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
    std::vector<UChar> units;
    units.reserve(size);
    // The controls the device keeps plain are never part of a pair: convert around them.
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
      bool control = i < size && plainControls() && isRotatedControl(static_cast<unsigned char>(text[i]));
      if (i < size && !control) continue;
      if (i > start && !decodeRun(text + start, i - start, units)) return false;
      if (control) units.push_back(static_cast<unsigned char>(text[i]));
      start = i + 1;
    }
    out.clear();
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      char32_t unit = units[i];
      if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
          units[i + 1] < 0xE000)
        unit = 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00);
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
    EncodeState state{additions_, false};
    ucnv_setFromUCallBack(converter_.get(), substituteAndRecord, &state, nullptr, nullptr,
                          &error);
    out.clear();
    size_t start = 0;
    for (size_t i = 0; i <= units.size(); ++i) {
      bool control = i < units.size() && plainControls() && isRotatedControl(units[i]);
      if (i < units.size() && !control) continue;
      if (i > start && !encodeRun(units.data() + start, i - start, out)) return false;
      if (control) out += static_cast<char>(units[i]);
      start = i + 1;
    }
    replaced = replaced || state.replaced;
    return true;
  }

 private:
  bool plainControls() const { return additions_ && additions_->plainControls; }

  bool decodeRun(const char* text, size_t size, std::vector<UChar>& units) {
    size_t at = units.size();
    units.resize(at + size + 8);
    for (;;) {
      UErrorCode error = U_ZERO_ERROR;
      int32_t n = ucnv_toUChars(converter_.get(), units.data() + at,
                                static_cast<int32_t>(units.size() - at), text,
                                static_cast<int32_t>(size), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        units.resize(at + static_cast<size_t>(n) + 1);
        continue;
      }
      if (U_FAILURE(error)) return false;
      units.resize(at + static_cast<size_t>(n));
      return true;
    }
  }

  bool encodeRun(const UChar* units, size_t count, std::string& out) {
    size_t at = out.size();
    out.resize(at + count * 4 + 16);
    for (;;) {
      UErrorCode error = U_ZERO_ERROR;
      int32_t n = ucnv_fromUChars(converter_.get(), out.data() + at,
                                  static_cast<int32_t>(out.size() - at), units,
                                  static_cast<int32_t>(count), &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(at + static_cast<size_t>(n) + 1);
        continue;
      }
      if (U_FAILURE(error)) return false;
      out.resize(at + static_cast<size_t>(n));
      return true;
    }
  }

  Converter converter_;
  const Additions* additions_;
  std::string question_;
};

}  // namespace

std::unique_ptr<PageConverter> openIcuConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &error));
  if (U_FAILURE(error) || !converter) return nullptr;
  return std::make_unique<IcuPageConverter>(std::move(converter), additionsFor(name));
}

}  // namespace ce::kernel
