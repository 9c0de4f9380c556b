// Our own walk over printf formats: the log must escape what its callers hand it (file names
// come from anyone who can create a file) without touching the format's own text, and the
// common conversions cost less here than a trip through vfprintf's stream machinery.
#include "textcore/line_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "textcore/code_points.h"

void LineText::append(const char* bytes, size_t count) {
  if (!spilled_ && size_ + count <= sizeof inline_) {
    std::memcpy(inline_ + size_, bytes, count);
    size_ += count;
    return;
  }
  if (!spilled_) {
    heap_.reserve(2 * (size_ + count));
    heap_.assign(inline_, size_);
    spilled_ = true;
  }
  heap_.append(bytes, count);
}

namespace {

const char kHex[] = "0123456789abcdef";

// What a wint_t argument becomes when passed through "...": int where wint_t is narrower.
using PromotedWint = decltype(+wint_t{});

// Where the escapes go: the line itself, or a scratch text that is padded to a width first.
template <typename Sink>
void appendControl(Sink& out, unsigned code) {
  switch (code) {
    case '\n': out.append("\\n", 2); return;
    case '\r': out.append("\\r", 2); return;
    case '\t': out.append("\\t", 2); return;
    default: break;
  }
  if (code < 0x80) {
    const char escaped[] = {'\\', 'x', kHex[code >> 4], kHex[code & 0xF]};
    out.append(escaped, sizeof escaped);
  } else {
    const char escaped[] = {'\\', 'u', '0', '0', kHex[code >> 4], kHex[code & 0xF]};
    out.append(escaped, sizeof escaped);
  }
}

// Room for the longest escape, "\u0085".
struct EncodedCharacter {
  char bytes[8];
  size_t size = 0;
  void append(const char* from, size_t count) {
    std::memcpy(bytes + size, from, count);
    size += count;
  }
};

bool isC0(unsigned code) { return code < 0x20 || code == 0x7F; }
bool isC1(unsigned code) { return code >= 0x80 && code <= 0x9F; }

// Narrow text is copied byte for byte in runs, but for its control characters, C1 ones
// included in their UTF-8 form (U+0085 is a line break to some readers).
template <typename Sink>
void appendEscaped(Sink& out, const char* text, size_t count) {
  size_t run = 0;
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xC2 && i + 1 < count && isC1(static_cast<unsigned char>(text[i + 1]));
    if (!isC0(byte) && !c1) continue;
    out.append(text + run, i - run);
    if (c1) ++i;
    appendControl(out, static_cast<unsigned char>(text[i]));
    run = i + 1;
  }
  out.append(text + run, count - run);
}

// Wide text as UTF-8, at most `limit` bytes (whole characters only), escaped as above.
template <typename Sink>
void appendWideEscaped(Sink& out, const wchar_t* text, size_t limit) {
  char encoded[8];
  size_t written = 0;
  for (CodePoint character{}; *text; text += character.units) {
    character = codePointAt(text);
    const uint32_t code = character.value;
    size_t n = 0;
    if (isC0(code) || isC1(code)) {
      EncodedCharacter escaped;
      appendControl(escaped, code);
      n = escaped.size;
      std::memcpy(encoded, escaped.bytes, n);
    } else if (code < 0x80) {
      encoded[n++] = static_cast<char>(code);
    } else if (code < 0x800) {
      encoded[n++] = static_cast<char>(0xC0 | (code >> 6));
      encoded[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000 && !isSurrogate(code)) {
      encoded[n++] = static_cast<char>(0xE0 | (code >> 12));
      encoded[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      encoded[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code >= 0x10000 && code <= 0x10FFFF) {
      encoded[n++] = static_cast<char>(0xF0 | (code >> 18));
      encoded[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      encoded[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      encoded[n++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
      std::memcpy(encoded, "\xEF\xBF\xBD", 3);  // not a character: U+FFFD
      n = 3;
    }
    if (written + n > limit) return;
    out.append(encoded, n);
    written += n;
  }
}

void appendPadding(LineText& line, int count) {
  for (; count > 0; --count) line.append(' ');
}

// A text conversion: padded to its width, escaped.
template <typename Fill>
void appendText(LineText& line, int width, bool leftAligned, Fill fill) {
  if (width <= 0) {
    fill(line);
    return;
  }
  LineText text;
  fill(text);
  const int padding = width - static_cast<int>(text.size());
  if (!leftAligned) appendPadding(line, padding);
  line.append(text.data(), text.size());
  if (leftAligned) appendPadding(line, padding);
}

template <typename Value>
void appendPrintf(LineText& line, const char* printfFormat, Value value) {
  char buffer[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int n = std::snprintf(buffer, sizeof buffer, printfFormat, value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buffer) {
    line.append(buffer, static_cast<size_t>(n));
    return;
  }
  std::string large(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(large.data(), large.size(), printfFormat, value);
#pragma GCC diagnostic pop
  line.append(large.data(), static_cast<size_t>(n));
}

template <typename Integer>
void appendInteger(LineText& line, Integer value, int base, bool upper) {
  char digits[72];
  auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
  if (upper)
    for (char* c = digits; c != end; ++c)
      if (*c >= 'a' && *c <= 'f') *c = static_cast<char>(*c - 'a' + 'A');
  line.append(digits, static_cast<size_t>(end - digits));
}

enum class Length { none, hh, h, l, ll, j, z, t, L };

// One conversion's parsed parts, and the printf format that stands for it once any '*' has been
// replaced by the number it took.
struct Conversion {
  bool leftAligned = false;
  bool hasFlags = false;
  int width = -1;
  int precision = -1;
  Length length = Length::none;
  char kind = 0;
  char printfFormat[64] = {};
};

template <typename Value>
void appendNumber(LineText& line, const Conversion& conversion, Value value) {
  const bool plain = !conversion.hasFlags && conversion.width < 0 && conversion.precision < 0;
  const char kind = conversion.kind;
  if (plain && (kind == 'd' || kind == 'i' || kind == 'u'))
    appendInteger(line, value, 10, false);
  else if (plain && (kind == 'x' || kind == 'X'))
    appendInteger(line, value, 16, kind == 'X');
  else
    appendPrintf(line, conversion.printfFormat, value);
}

template <typename Signed, typename Unsigned>
void appendIntegerArgument(LineText& line, const Conversion& conversion, Signed value) {
  if (conversion.kind == 'd' || conversion.kind == 'i')
    appendNumber(line, conversion, value);
  else
    appendNumber(line, conversion, static_cast<Unsigned>(value));
}

void appendIntegerConversion(LineText& line, const Conversion& conversion, va_list& args) {
  switch (conversion.length) {
    case Length::hh: {
      int value = va_arg(args, int);
      if (conversion.kind == 'd' || conversion.kind == 'i')
        appendNumber(line, conversion, static_cast<int>(static_cast<signed char>(value)));
      else
        appendNumber(line, conversion, static_cast<unsigned>(static_cast<unsigned char>(value)));
      return;
    }
    case Length::h: {
      int value = va_arg(args, int);
      if (conversion.kind == 'd' || conversion.kind == 'i')
        appendNumber(line, conversion, static_cast<int>(static_cast<short>(value)));
      else
        appendNumber(line, conversion, static_cast<unsigned>(static_cast<unsigned short>(value)));
      return;
    }
    case Length::l:
      appendIntegerArgument<long, unsigned long>(line, conversion, va_arg(args, long));
      return;
    case Length::ll:
    case Length::L:
      appendIntegerArgument<long long, unsigned long long>(line, conversion,
                                                           va_arg(args, long long));
      return;
    case Length::j:
      appendIntegerArgument<intmax_t, uintmax_t>(line, conversion, va_arg(args, intmax_t));
      return;
    case Length::z:
    case Length::t:
      appendIntegerArgument<ptrdiff_t, size_t>(line, conversion, va_arg(args, ptrdiff_t));
      return;
    default:
      appendIntegerArgument<int, unsigned>(line, conversion, va_arg(args, int));
      return;
  }
}

int readNumber(const char*& p) {
  int value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value < 100000 ? value * 10 + (*p - '0') : value;
  return value;
}

// Parses the conversion after '%' (p points past it), taking any '*' from args. Returns the
// position after the conversion character, or null when the format ends inside it.
const char* parseConversion(const char* p, Conversion& conversion, va_list& args) {
  static const char kFlags[] = "-+ #0'";
  bool flags[sizeof kFlags - 1] = {};
  for (const char* flag; *p && (flag = std::strchr(kFlags, *p)); ++p) {
    flags[flag - kFlags] = true;
    conversion.hasFlags = true;
  }
  if (*p == '*') {
    ++p;
    conversion.width = va_arg(args, int);
    if (conversion.width < 0) {
      flags[0] = conversion.hasFlags = true;
      conversion.width = conversion.width == INT_MIN ? 0 : -conversion.width;
    }
  } else if (*p >= '0' && *p <= '9') {
    conversion.width = readNumber(p);
  }
  conversion.width = std::min(conversion.width, 100000);
  conversion.leftAligned = flags[0];
  // Each flag once, and numbers no longer than six digits: the format always fits.
  std::string printfFormat = "%";
  for (size_t i = 0; i < sizeof flags; ++i)
    if (flags[i]) printfFormat += kFlags[i];
  if (conversion.width >= 0) printfFormat += std::to_string(conversion.width);
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      ++p;
      conversion.precision = va_arg(args, int);
    } else {
      conversion.precision = readNumber(p);
    }
    conversion.precision = std::min(conversion.precision, 100000);
    if (conversion.precision >= 0)
      printfFormat.append(".").append(std::to_string(conversion.precision));
  }
  const char* lengthStart = p;
  switch (*p) {
    case 'h':
      conversion.length = p[1] == 'h' ? Length::hh : Length::h;
      p += p[1] == 'h' ? 2 : 1;
      break;
    case 'l':
      conversion.length = p[1] == 'l' ? Length::ll : Length::l;
      p += p[1] == 'l' ? 2 : 1;
      break;
    case 'q': conversion.length = Length::ll; ++p; break;
    case 'j': conversion.length = Length::j; ++p; break;
    case 'z': conversion.length = Length::z; ++p; break;
    case 't': conversion.length = Length::t; ++p; break;
    case 'L': conversion.length = Length::L; ++p; break;
    default: break;
  }
  printfFormat.append(lengthStart, p);
  if (!*p) return nullptr;
  conversion.kind = *p;
  printfFormat += *p;
  std::memcpy(conversion.printfFormat, printfFormat.c_str(), printfFormat.size() + 1);
  return p + 1;
}

}  // namespace

void appendFormatted(LineText& line, const char* format, va_list args) {
  va_list rest;
  va_copy(rest, args);
  const char* p = format;
  while (*p) {
    const char* percent = std::strchr(p, '%');
    if (!percent) {
      line.append(p, std::strlen(p));
      break;
    }
    line.append(p, static_cast<size_t>(percent - p));
    if (percent[1] == '%') {
      line.append('%');
      p = percent + 2;
      continue;
    }
    Conversion conversion;
    const char* next = parseConversion(percent + 1, conversion, rest);
    if (!next) {
      line.append(percent, std::strlen(percent));
      break;
    }
    p = next;
    const bool wide = conversion.length == Length::l;
    const size_t limit = conversion.precision >= 0 ? static_cast<size_t>(conversion.precision)
                                                   : SIZE_MAX;
    switch (conversion.kind) {
      case 'd': case 'i': case 'u': case 'o': case 'x': case 'X':
        appendIntegerConversion(line, conversion, rest);
        break;
      case 's':
      case 'S':
        if (wide || conversion.kind == 'S') {
          const wchar_t* text = va_arg(rest, const wchar_t*);
          if (!text) text = L"(null)";
          appendText(line, conversion.width, conversion.leftAligned,
                     [&](LineText& out) { appendWideEscaped(out, text, limit); });
        } else {
          const char* text = va_arg(rest, const char*);
          if (!text) text = "(null)";
          const size_t count = conversion.precision >= 0 ? strnlen(text, limit) : std::strlen(text);
          appendText(line, conversion.width, conversion.leftAligned,
                     [&](LineText& out) { appendEscaped(out, text, count); });
        }
        break;
      case 'c':
      case 'C':
        if (wide || conversion.kind == 'C') {
          // The argument arrives promoted: where wint_t is narrower than int (16 bits on
          // Windows), va_arg of wint_t itself is undefined, and GCC makes it a trap.
          const wchar_t text[] = {static_cast<wchar_t>(va_arg(rest, PromotedWint)), L'\0'};
          appendText(line, conversion.width, conversion.leftAligned,
                     [&](LineText& out) { appendWideEscaped(out, text, SIZE_MAX); });
        } else {
          const char text = static_cast<char>(va_arg(rest, int));
          appendText(line, conversion.width, conversion.leftAligned,
                     [&](LineText& out) { appendEscaped(out, &text, 1); });
        }
        break;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        if (conversion.length == Length::L)
          appendPrintf(line, conversion.printfFormat, va_arg(rest, long double));
        else
          appendPrintf(line, conversion.printfFormat, va_arg(rest, double));
        break;
      case 'p':
        appendPrintf(line, conversion.printfFormat, va_arg(rest, void*));
        break;
      case 'n':
        (void)va_arg(rest, void*);  // a log line writes nothing back into its caller
        break;
      default:
        line.append(percent, static_cast<size_t>(p - percent));  // not a conversion: as given
        break;
    }
  }
  va_end(rest);
}
