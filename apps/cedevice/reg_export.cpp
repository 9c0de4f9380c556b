// Writing registry files: a key and everything below it, as `reg export` writes it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <ostream>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/failure.h"
#include "apps/cedevice/reg_file.h"
#include "apps/cedevice/reg_text.h"

namespace cedevice::reg {

namespace {

const char* const version5Header = "Windows Registry Editor Version 5.00";
const char* const regedit4Header = "REGEDIT4";

// What a quoted string can carry: no control characters.
bool quotable(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// Builds the file as wide text; the format decides its encoding at the end.
class Writer {
 public:
  explicit Writer(FileFormat format) : format_(format) {}

  bool fits(const std::wstring& text) const {
    std::string ansi;
    return format_ == FileFormat::version5 || ansiOf(text, ansi);
  }

  std::wstring quoted(const std::wstring& text) const {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
      if (c == L'\\' || c == L'"') out += L'\\';
      out += c;
    }
    return out + L"\"";
  }

  void line(const std::wstring& text) { document_ += text + L"\r\n"; }

  void write(std::ostream& out) const {
    if (format_ == FileFormat::version5) {
      std::vector<BYTE> bytes = utf16leOf(document_);
      out.write("\xFF\xFE", 2);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      return;
    }
    std::string ansi;
    if (!ansiOf(document_, ansi))
      throw Failure("cannot export as REGEDIT4: a name has no form in code page 1252; "
                    "export without --regedit4", 1);
    out << ansi;
  }

 private:
  FileFormat format_;
  std::wstring document_;
};

std::wstring hexList(const std::wstring& prefix, const BYTE* bytes, size_t size) {
  std::wstring out = prefix;
  for (size_t i = 0; i < size; ++i) {
    wchar_t byte[4];
    std::swprintf(byte, 4, i ? L",%02x" : L"%02x", bytes[i]);
    out += byte;
  }
  return out;
}

std::wstring typePrefix(DWORD type) {
  if (type == REG_BINARY) return L"hex:";
  wchar_t prefix[24];
  std::swprintf(prefix, 24, L"hex(%x):", static_cast<unsigned>(type));
  return prefix;
}

std::wstring valueLine(const Value& value, const Writer& writer) {
  if (!quotable(value.name) || !writer.fits(value.name))
    throw Failure("cannot export the value name \"" + narrow(value.name) +
                      "\": it holds a control character or a character outside code page 1252", 1);
  std::wstring line = value.name.empty() ? L"@" : writer.quoted(value.name);
  line += L'=';
  std::wstring text;
  if (textOf(value, text) && quotable(text) && writer.fits(text)) return line + writer.quoted(text);
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, value.data.data(), sizeof number);
    wchar_t digits[16];
    std::swprintf(digits, 16, L"dword:%08x", static_cast<unsigned>(number));
    return line + digits;
  }
  std::vector<BYTE> bytes = fileBytes(value);
  return line + hexList(typePrefix(value.type), bytes.data(), bytes.size());
}

// Depth first, subkeys in the registry's order, with a stack of its own. A store nested
// deeper than an import may go (only the API can make one) is refused: its file could not be
// read back, and its key lines alone grow with the square of the depth.
void exportTree(const std::wstring& top, Writer& writer) {
  std::vector<std::wstring> pending{top};
  while (!pending.empty()) {
    Key key(pending.back());
    pending.pop_back();
    const std::wstring& path = key.path();
    if (!path.empty() &&
        static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')) >= maxKeyDepth)
      throw Failure("cannot export " + keyDisplayName(top) + ": its keys nest deeper than " +
                        std::to_string(maxKeyDepth) + " levels", 1);
    std::vector<Value> values = key.values();
    // The root has no header of its own unless it holds values.
    if (!key.path().empty() || !values.empty()) {
      if (!quotable(key.path()))
        throw Failure("cannot export the key " + keyDisplayName(key.path()) +
                          ": its name holds a control character", 1);
      writer.line(L"[" + widen(keyDisplayName(key.path())) + L"]");
      for (const auto& value : values) writer.line(valueLine(value, writer));
      writer.line(L"");
    }
    std::vector<std::wstring> names = key.subkeys();
    for (auto name = names.rbegin(); name != names.rend(); ++name)
      pending.push_back(key.path().empty() ? *name : key.path() + L"\\" + *name);
  }
}

}  // namespace

void exportKey(const std::wstring& path, FileFormat format, std::ostream& out) {
  Writer writer(format);
  writer.line(widen(format == FileFormat::version5 ? version5Header : regedit4Header));
  writer.line(L"");
  exportTree(path, writer);
  writer.write(out);
}

}  // namespace cedevice::reg
