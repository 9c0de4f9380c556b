// Writing and reading registry files.
#include "apps/cedevice/reg_file.h"

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <sstream>
#include <istream>
#include <ostream>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/reg_text.h"
#include "platform/registry/transaction.h"

namespace cedevice::reg {

namespace {

const char* const version5Header = "Windows Registry Editor Version 5.00";
const char* const regedit4Header = "REGEDIT4";

bool isTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

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
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

// The registry's wide characters as the UTF-16LE a file carries; raw bytes when the data is
// not whole characters.
std::vector<BYTE> textBytes(const Value& value) {
  if (value.data.size() % sizeof(WCHAR) != 0) return value.data;
  std::wstring units(value.data.size() / sizeof(WCHAR), L'\0');
  std::memcpy(units.data(), value.data.data(), value.data.size());
  return utf16leOf(units);
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
  if (isTextType(value.type)) {
    std::vector<BYTE> bytes = textBytes(value);
    return line + hexList(typePrefix(value.type), bytes.data(), bytes.size());
  }
  return line + hexList(typePrefix(value.type), value.data.data(), value.data.size());
}

// Depth first, keys in creation order, with a stack of its own. A store nested deeper than an
// import may go (only the API can make one) is refused: its file could not be read back, and
// its key lines alone grow with the square of the depth.
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

// Reads one line at a time, knowing its number, without the line end.
class LineReader {
 public:
  LineReader(std::istream& in, const std::string& source) : in_(in), source_(source) {}
  bool next(std::string& line) {
    if (!std::getline(in_, line)) return false;
    ++number_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }
  [[noreturn]] void fail(const std::string& problem) const {
    throw Failure(source_ + ":" + std::to_string(number_) + ": " + problem, 1);
  }

 private:
  std::istream& in_;
  std::string source_;
  int number_ = 0;
};

// A quoted string starting at text[at]; `at` ends after the closing quote. Takes the escapes
// the desktop editors write: \\, \", \n, \r and \0.
bool readQuoted(const std::string& text, size_t& at, std::string& out) {
  if (at >= text.size() || text[at] != '"') return false;
  out.clear();
  for (++at; at < text.size(); ++at) {
    char c = text[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\') {
      if (++at >= text.size()) return false;
      switch (text[at]) {
        case '\\': case '"': c = text[at]; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        case '0': c = '\0'; break;
        default: return false;
      }
    }
    out += c;
  }
  return false;
}

void skipBlanks(const std::string& text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

// Whether what follows `at` is only blanks or a "; comment".
bool onlyCommentFrom(const std::string& text, size_t at) {
  skipBlanks(text, at);
  return at == text.size() || text[at] == ';';
}

std::string trimmed(std::string text) {
  size_t end = text.find_last_not_of(" \t");
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool parseHexBytes(const std::string& list, std::vector<BYTE>& bytes) {
  bytes.clear();
  size_t at = 0;
  auto skipBlanks = [&] {
    while (at < list.size() && std::isspace(static_cast<unsigned char>(list[at]))) ++at;
  };
  skipBlanks();
  if (at == list.size()) return true;
  for (;;) {
    skipBlanks();
    if (at + 2 > list.size()) return false;
    int high = hexDigit(list[at]), low = hexDigit(list[at + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<BYTE>(high * 16 + low));
    at += 2;
    skipBlanks();
    if (at == list.size()) return true;
    if (list[at++] != ',') return false;
  }
}

std::wstring keyOfHeader(const std::string& inside, const LineReader& reader) {
  std::string problem = keyArgumentProblem(inside);
  if (!problem.empty()) reader.fail(problem);
  std::string upper;
  for (char c : inside.substr(0, inside.find('\\')))
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper != "HKEY_LOCAL_MACHINE" && upper != "HKLM")
    reader.fail("a key must start with HKEY_LOCAL_MACHINE: [" + inside + "]");
  return keyPathOf(inside);
}

// The data after '=' of a value line (continuation lines already joined).
void parseData(const std::string& data, Value& value, const LineReader& reader) {
  if (data.front() == '"') {
    size_t at = 0;
    std::string text;
    if (!readQuoted(data, at, text) || !onlyCommentFrom(data, at))
      reader.fail("bad string: " + data);
    std::wstring wide = widen(text);
    value.type = REG_SZ;
    value.data.resize((wide.size() + 1) * sizeof(WCHAR));
    std::memcpy(value.data.data(), wide.c_str(), value.data.size());
    return;
  }
  if (data.rfind("dword:", 0) == 0) {
    std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) reader.fail("bad dword: " + data);
    DWORD number = 0;
    for (char c : digits) {
      int digit = hexDigit(c);
      if (digit < 0) reader.fail("bad dword: " + data);
      number = number * 16 + static_cast<DWORD>(digit);
    }
    value.type = REG_DWORD;
    value.data.resize(sizeof number);
    std::memcpy(value.data.data(), &number, sizeof number);
    return;
  }
  std::string list;
  if (data.rfind("hex:", 0) == 0) {
    value.type = REG_BINARY;
    list = data.substr(4);
  } else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos) {
    size_t close = data.find("):");
    std::string type = data.substr(4, close - 4);
    if (type.empty() || type.size() > 8 || type.find_first_not_of("0123456789abcdefABCDEF") !=
                                               std::string::npos)
      reader.fail("bad value type: " + data);
    value.type = static_cast<DWORD>(std::stoul(type, nullptr, 16));
    list = data.substr(close + 2);
  } else {
    reader.fail("unknown kind of data: " + data);
  }
  if (!parseHexBytes(list.substr(0, list.find(';')), value.data))
    reader.fail("bad hex bytes: " + data);
  if (isTextType(value.type)) {
    // Text in a file is UTF-16LE; the registry holds it as its own wide text.
    std::wstring text;
    if (!wideOfUtf16le(value.data.data(), value.data.size(), text))
      reader.fail("bad UTF-16 text in " + data.substr(0, data.find(':')) + " data");
    value.data.resize(text.size() * sizeof(WCHAR));
    std::memcpy(value.data.data(), text.data(), value.data.size());
  }
}

// The keys an import would create, with every parent, against the limits.
void checkLimits(const std::vector<Change>& changes, const std::string& source) {
  std::set<std::wstring> keys;
  for (const auto& change : changes) {
    if (change.kind == Change::Kind::deleteKey || change.kind == Change::Kind::deleteValue)
      continue;
    std::wstring path;
    for (wchar_t c : change.key) path += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    size_t depth = path.empty() ? 0 : 1 + static_cast<size_t>(std::count(path.begin(), path.end(), L'\\'));
    if (depth > maxKeyDepth)
      throw Failure(source + ": keys nested deeper than " + std::to_string(maxKeyDepth) +
                        " levels; nothing was imported", 1);
    while (!path.empty() && keys.insert(path).second) {
      size_t cut = path.rfind(L'\\');
      path.erase(cut == std::wstring::npos ? 0 : cut);
    }
    if (keys.size() > maxImportKeys)
      throw Failure(source + ": more than " + std::to_string(maxImportKeys) +
                        " keys; nothing was imported", 1);
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

std::vector<Change> parseRegistryFile(std::istream& file, const std::string& source) {
  std::ostringstream raw;
  raw << file.rdbuf();
  std::string text, problem;
  if (!fileTextAsUtf8(raw.str(), text, problem)) throw Failure(source + ": " + problem, 1);
  std::istringstream in(text);
  LineReader reader(in, source);
  std::vector<Change> changes;
  std::string line;
  bool header = false;
  bool inKey = false;
  std::wstring key;
  while (reader.next(line)) {
    if (!header) {
      if (line.empty()) continue;
      std::string first = trimmed(line);
      if (first != regedit4Header && first != version5Header)
        reader.fail(std::string("not a registry file (the first line must be ") + regedit4Header +
                    " or " + version5Header + ")");
      header = true;
      continue;
    }
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';' || line[first] == '#') continue;
    line.erase(0, first);
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || !onlyCommentFrom(line, close + 1))
        reader.fail("a key line must end with ]");
      bool remove = line.size() > 1 && line[1] == '-';
      key = keyOfHeader(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)), reader);
      if (remove && key.empty()) reader.fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
      changes.push_back({remove ? Change::Kind::deleteKey : Change::Kind::createKey, key, {}});
      inKey = !remove;
      continue;
    }
    if (!inKey) reader.fail("a value outside any key");
    Value value;
    size_t at = 0;
    std::string name;
    if (line.front() == '@') {
      at = 1;
    } else if (!readQuoted(line, at, name)) {
      reader.fail("a value line starts with @ or a quoted name");
    }
    value.name = widen(name);
    skipBlanks(line, at);
    if (at >= line.size() || line[at] != '=') reader.fail("'=' expected after the value name");
    ++at;
    skipBlanks(line, at);
    std::string data = line.substr(at);
    if (data.front() != '"') data = trimmed(data.substr(0, data.find(';')));
    // Hex lists may go on over several lines, each but the last ending with '\'.
    while (data.rfind("hex", 0) == 0 && !data.empty() && data.back() == '\\') {
      data.pop_back();
      std::string more;
      if (!reader.next(more)) reader.fail("the file ends inside a continued value");
      if (!more.empty() && more.back() == '\r') more.pop_back();
      data += trimmed(more.substr(0, more.find(';')));
    }
    if (data.empty()) reader.fail("no data after '='");
    if (data == "-") {
      changes.push_back({Change::Kind::deleteValue, key, std::move(value)});
      continue;
    }
    parseData(data, value, reader);
    changes.push_back({Change::Kind::setValue, key, std::move(value)});
  }
  if (!header) reader.fail("not a registry file (it is empty)");
  checkLimits(changes, source);
  return changes;
}

void applyChanges(const std::vector<Change>& changes) {
  std::string failed;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    for (const auto& change : changes) {
      LONG result = ERROR_SUCCESS;
      HKEY key = nullptr;
      switch (change.kind) {
        case Change::Kind::createKey:
          result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, change.key.c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr);
          break;
        case Change::Kind::deleteKey:
          result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, change.key.c_str());
          // Deleting what is not there leaves the registry as the file wants it.
          if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
          break;
        case Change::Kind::setValue:
        case Change::Kind::deleteValue:
          result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, change.key.c_str(), 0, nullptr, 0,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr);
          if (result != ERROR_SUCCESS) break;
          if (change.kind == Change::Kind::setValue) {
            const Value& value = change.value;
            result = RegSetValueExW(key, value.name.c_str(), 0, value.type,
                                    value.data.empty() ? nullptr : value.data.data(),
                                    static_cast<DWORD>(value.data.size()));
          } else {
            result = RegDeleteValueW(key, change.value.name.c_str());
            if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
          }
          break;
      }
      if (key) RegCloseKey(key);
      if (result != ERROR_SUCCESS) {
        failed = keyDisplayName(change.key);
        if (change.kind == Change::Kind::setValue || change.kind == Change::Kind::deleteValue)
          failed += " value \"" + narrow(change.value.name) + "\"";
        return result;
      }
    }
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS)
    fail(failed.empty() ? std::string("cannot import: the registry refused the change")
                        : "cannot import " + failed + "; nothing was imported",
         rc);
}

}  // namespace cedevice::reg
