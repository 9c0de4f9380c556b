// Single-byte pages through the vendor's tables: a byte is one character, and every character
// has one byte, its own, its best fit or the default character. The encoding table is built once
// per page, on its first use, from the byte table and the table's exceptions.
#include <algorithm>
#include <array>
#include <iterator>

#include "platform/linux/codepages/page_converter.h"
#include "platform/linux/codepages/single_byte_tables.h"

namespace ce::kernel {

namespace {

constexpr unsigned short kNoByte = 0x100;

const SingleByteTable* tableOf(UINT codePage) {
  const SingleByteTable* end = singleByteTables + singleByteTableCount;
  const SingleByteTable* found = std::lower_bound(
      singleByteTables, end, codePage,
      [](const SingleByteTable& table, UINT page) { return table.codePage < page; });
  return found != end && found->codePage == codePage ? found : nullptr;
}

class SingleByteConverter : public PageConverter {
 public:
  explicit SingleByteConverter(const SingleByteTable& table) : table_(table) {
    bytes_.fill(kNoByte);
    for (int byte = 255; byte >= 0; --byte)
      bytes_[table_.decode[byte]] = static_cast<unsigned short>(byte);
    for (size_t i = 0; i < table_.encodeCount; ++i)
      bytes_[table_.encode[i].character] = table_.encode[i].byte;
  }

  bool toWide(const char* text, size_t size, const DecodeOptions& options,
              std::wstring& out) override {
    const char16_t* characters = options.glyphs && table_.glyphs ? table_.glyphs : table_.decode;
    out.resize(size);
    for (size_t i = 0; i < size; ++i) {
      auto byte = static_cast<unsigned char>(text[i]);
      char16_t c = characters[byte];
      // A byte the page does not define decodes to the default character or to a private-use
      // character; the device calls it invalid only when asked.
      if (options.failOnInvalid && ((c == table_.defaultCharacter && byte != table_.defaultByte) ||
                                    (c >= 0xE000 && c <= 0xF8FF)))
        return false;
      out[i] = static_cast<wchar_t>(c);
    }
    return true;
  }

  bool fromWide(const wchar_t* text, size_t size, const char* defaultChar, std::string& out,
                bool& replaced) override {
    out.clear();
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
      auto c = static_cast<char32_t>(text[i]);
      unsigned short byte = c < 0x10000 && !(c >= 0xD800 && c < 0xE000) ? bytes_[c] : kNoByte;
      if (byte != kNoByte) {
        out += static_cast<char>(byte);
        continue;
      }
      // The device sees a character above U+FFFF as two units, and neither has a byte.
      int units = c >= 0x10000 && c <= 0x10FFFF ? 2 : 1;
      for (int unit = 0; unit < units; ++unit) {
        if (defaultChar) out += defaultChar[0];
        else out += static_cast<char>(table_.defaultByte);
      }
      replaced = true;
    }
    return true;
  }

  bool holds(char32_t c) override {
    return c < 0x10000 && !(c >= 0xD800 && c < 0xE000) && bytes_[c] != kNoByte;
  }

 private:
  const SingleByteTable& table_;
  std::array<unsigned short, 0x10000> bytes_;
};

}  // namespace

std::unique_ptr<PageConverter> openSingleByteConverter(UINT codePage) {
  const SingleByteTable* table = tableOf(codePage);
  if (!table) return nullptr;
  return std::make_unique<SingleByteConverter>(*table);
}

}  // namespace ce::kernel
