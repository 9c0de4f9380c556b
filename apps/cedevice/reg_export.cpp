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
#include "platform/registry_transaction.h"

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
  if (!writer.fits(value.name))
    throw Failure("cannot export the value name \"" + narrow(value.name) +
                      "\": it holds a character outside code page 1252; export without "
                      "--regedit4", 1);
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

// A name shown in a message, its control characters spelt out.
std::string shown(const std::wstring& text) { return oneLine(narrow(text), false); }

// The keys an import counts for `top` itself: every parent of it is created too.
size_t keysAbove(const std::wstring& top) {
  return top.empty() ? 0 : static_cast<size_t>(std::count(top.begin(), top.end(), L'\\'));
}

// Depth first, subkeys in the registry's order, with a stack of its own. What an import
// could not read back is refused, so that every file written here imports: a store nested
// deeper than an import may go (only the API can make one), whose key lines alone would also
// grow with the square of the depth, or one with more keys than an import takes. A name that
// a registry file cannot carry (a control character: only the API can make one) is left out
// and reported in `omitted`, so that one such name does not cost the export of the rest.
void exportTree(const std::wstring& top, Writer& writer, std::vector<std::string>& omitted) {
  std::vector<std::wstring> pending{top};
  size_t keys = keysAbove(top);
  while (!pending.empty()) {
    Key key(pending.back());
    pending.pop_back();
    const std::wstring& path = key.path();
    if (!path.empty() &&
        static_cast<size_t>(std::count(path.begin(), path.end(), L'\\')) >= maxKeyDepth)
      throw Failure("cannot export " + keyDisplayName(top) + ": its keys nest deeper than " +
                        std::to_string(maxKeyDepth) + " levels", 1);
    if (!quotable(path)) {
      omitted.push_back("the key " + oneLine(keyDisplayName(path), false) +
                        " and everything below it");
      continue;
    }
    if (!path.empty() && ++keys > maxImportKeys)
      throw Failure("cannot export " + keyDisplayName(top) + ": it holds more than " +
                        std::to_string(maxImportKeys) + " keys, more than an import takes", 1);
    std::vector<Value> values = key.values();
    // The root has no header of its own unless it holds values.
    if (!path.empty() || !values.empty()) {
      writer.line(L"[" + widen(keyDisplayName(path)) + L"]");
      for (const auto& value : values) {
        if (quotable(value.name))
          writer.line(valueLine(value, writer));
        else
          omitted.push_back("the value \"" + shown(value.name) + "\" in " +
                            keyDisplayName(path));
      }
      writer.line(L"");
    }
    std::vector<std::wstring> names = key.subkeys();
    for (auto name = names.rbegin(); name != names.rend(); ++name)
      pending.push_back(path.empty() ? *name : path + L"\\" + *name);
  }
}

// One line for what was left out: the first few names, then how many more.
std::string omissionLine(const std::vector<std::string>& omitted) {
  constexpr size_t named = 3;
  std::string line = "exported all but " + std::to_string(omitted.size()) +
                     (omitted.size() == 1 ? " name" : " names") +
                     " a registry file cannot carry (a control character): ";
  for (size_t i = 0; i < omitted.size() && i < named; ++i) line += (i ? "; " : "") + omitted[i];
  if (omitted.size() > named) line += "; and " + std::to_string(omitted.size() - named) + " more";
  return line;
}

}  // namespace

void exportKey(const std::wstring& path, FileFormat format, std::ostream& out) {
  Writer writer(format);
  writer.line(widen(format == FileFormat::version5 ? version5Header : regedit4Header));
  writer.line(L"");
  std::vector<std::string> omitted;
  // One read transaction: the file shows the registry as it was at one moment, not part
  // before and part after another process's change, and each call inside it reads without
  // taking and dropping the store's read lock again.
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    exportTree(path, writer, omitted);
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) fail("cannot read " + keyDisplayName(path), rc);
  writer.write(out);
  if (!omitted.empty()) {
    out.flush();
    throw Failure(omissionLine(omitted), 1);
  }
}

}  // namespace cedevice::reg
