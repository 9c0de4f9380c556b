// Reading registry files and applying them, as `reg import` does.
//
// The whole file is read and understood before the registry is touched, and the changes keep
// the file's own compact form (UTF-8 text, hex bytes) until each is applied: our wide
// characters take four bytes, so a file widened whole would take up to eight times its size.
// Only the apply runs inside the registry's write transaction, one key open at a time.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <functional>
#include <string_view>
#include <unordered_set>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/failure.h"
#include "apps/cedevice/reg_file.h"
#include "apps/cedevice/reg_text.h"
#include "platform/linux/registry/text_value.h"
#include "platform/registry_transaction.h"

namespace cedevice::reg {

namespace {

const char* const version5Header = "Windows Registry Editor Version 5.00";
const char* const regedit4Header = "REGEDIT4";

constexpr size_t megabyte = 1 << 20;

bool isTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::string megabytes(size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / megabyte);
  return text;
}

// One line, whether the size is known ("3.0 MB") or only that it is too large ("").
[[noreturn]] void tooLarge(const std::string& source, const std::string& size, size_t maxBytes) {
  throw Failure(source + " is " + (size.empty() ? "" : size + ", ") + "larger than the " +
                    std::to_string(maxBytes / megabyte) +
                    " MB an import reads; nothing was imported (--max-size raises the limit)",
                1);
}

// One line at a time, knowing its number, without the line end.
class LineReader {
 public:
  LineReader(std::string_view text, const std::string& source) : text_(text), source_(source) {}
  bool next(std::string_view& line) {
    if (at_ >= text_.size()) return false;
    size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(at_, end - at_);
    at_ = end + 1;
    ++number_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
  }
  [[noreturn]] void fail(const std::string& problem) const {
    throw Failure(source_ + ":" + std::to_string(number_) + ": " + problem, 1);
  }

 private:
  std::string_view text_;
  const std::string& source_;
  size_t at_ = 0;
  int number_ = 0;
};

// Shown in a message: the start of a line that may be megabytes long.
std::string excerpt(std::string_view text) {
  constexpr size_t shown = 60;
  return text.size() <= shown ? std::string(text) : std::string(text.substr(0, shown)) + "...";
}

// A quoted string starting at text[at]; `at` ends after the closing quote. Takes the escapes
// the desktop editors write: \\, \", \n, \r and \0. Given `plain`, a string without escapes
// is left where it is, as a view of `text`, and `out` stays empty.
bool readQuoted(std::string_view text, size_t& at, std::string& out,
                std::string_view* plain = nullptr) {
  if (at >= text.size() || text[at] != '"') return false;
  out.clear();
  size_t end = at + 1;
  bool escaped = false;
  while (end < text.size() && text[end] != '"') {
    escaped = escaped || text[end] == '\\';
    end += text[end] == '\\' ? 2 : 1;
  }
  if (plain && !escaped && end < text.size()) {
    *plain = text.substr(at + 1, end - at - 1);
    at = end + 1;
    return true;
  }
  // Room for the whole string at once: grown a character at a time, a long value's buffer
  // was copied at each doubling, the old and the new held together.
  out.reserve(end - at);
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

void skipBlanks(std::string_view text, size_t& at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
}

// Whether what follows `at` is only blanks or a "; comment".
bool onlyCommentFrom(std::string_view text, size_t at) {
  skipBlanks(text, at);
  return at == text.size() || text[at] == ';';
}

std::string_view trimmed(std::string_view text) {
  size_t end = text.find_last_not_of(" \t");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string_view beforeComment(std::string_view text) {
  return trimmed(text.substr(0, text.find(';')));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHexBytes(std::string_view list, std::string& bytes) {
  bytes.clear();
  size_t at = 0;
  auto skipSpaces = [&] {
    while (at < list.size() && std::isspace(static_cast<unsigned char>(list[at]))) ++at;
  };
  skipSpaces();
  if (at == list.size()) return true;
  bytes.reserve(list.size() / 3 + 1);
  for (;;) {
    skipSpaces();
    if (at + 2 > list.size()) return false;
    int high = hexDigit(list[at]), low = hexDigit(list[at + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
    at += 2;
    skipSpaces();
    if (at == list.size()) return true;
    if (list[at++] != ',') return false;
  }
}

std::string keyOfHeader(std::string_view inside, const LineReader& reader) {
  std::string header(inside);
  if (header.find('\0') != std::string::npos) reader.fail("a key name cannot hold a NUL character");
  std::string problem = keyArgumentProblem(header);
  if (!problem.empty()) reader.fail(problem);
  std::string root;
  for (char c : header.substr(0, header.find('\\')))
    root += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (root != "HKEY_LOCAL_MACHINE" && root != "HKLM")
    reader.fail("a key must start with HKEY_LOCAL_MACHINE: [" + excerpt(header) + "]");
  return relativeKeyPath(header);
}

// The data after '=' of a value line (continuation lines already joined).
void parseData(std::string_view data, ValueChange& value, const LineReader& reader) {
  if (data.front() == '"') {
    size_t at = 0;
    if (!readQuoted(data, at, value.data, &value.plain) || !onlyCommentFrom(data, at))
      reader.fail("bad string: " + excerpt(data));
    value.type = REG_SZ;
    value.form = ValueChange::Form::text;
    return;
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) reader.fail("bad dword: " + excerpt(data));
    DWORD number = 0;
    for (char c : digits) {
      int digit = hexDigit(c);
      if (digit < 0) reader.fail("bad dword: " + excerpt(data));
      number = number * 16 + static_cast<DWORD>(digit);
    }
    value.type = REG_DWORD;
    value.data.assign(reinterpret_cast<const char*>(&number), sizeof number);
    return;
  }
  std::string_view list;
  if (data.substr(0, 4) == "hex:") {
    value.type = REG_BINARY;
    list = data.substr(4);
  } else if (data.substr(0, 4) == "hex(" && data.find("):") != std::string_view::npos) {
    size_t close = data.find("):");
    std::string_view type = data.substr(4, close - 4);
    if (type.empty() || type.size() > 8 ||
        type.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
      reader.fail("bad value type: " + excerpt(data));
    value.type = static_cast<DWORD>(std::stoul(std::string(type), nullptr, 16));
    list = data.substr(close + 2);
  } else {
    reader.fail("unknown kind of data: " + excerpt(data));
  }
  if (!parseHexBytes(list.substr(0, list.find(';')), value.data))
    reader.fail("bad hex bytes: " + excerpt(data));
  if (isTextType(value.type)) {
    // Text in a file is UTF-16LE; checked now, widened only when applied.
    std::string check;
    if (!appendUtf8OfUtf16le(value.data.data(), value.data.size(), check))
      reader.fail("bad UTF-16 text in " + std::string(data.substr(0, data.find(':'))) + " data");
    value.form = ValueChange::Form::utf16le;
  }
}

// The keys an import would create, with every parent, against the limits. Each path is
// counted by the hashes of its prefixes, built one name at a time, so that a chain of deep
// keys costs its total length and no copy of any path.
void checkLimits(const std::vector<KeyChange>& changes, const std::string& source) {
  std::unordered_set<size_t> keys;
  for (const auto& change : changes) {
    if (change.remove) continue;
    size_t depth = change.path.empty() ? 0 : 1;
    size_t hash = 0;
    std::wstring name;
    auto addPrefix = [&] {
      hash = std::hash<std::wstring>()(name) ^ (hash * 1099511628211ULL);
      keys.insert(hash);
      name.clear();
    };
    for (wchar_t c : widen(change.path)) {
      if (c == L'\\') {
        addPrefix();
        ++depth;
      } else {
        name += static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
      }
    }
    if (!change.path.empty()) addPrefix();
    if (depth > maxKeyDepth)
      throw Failure(source + ": keys nested deeper than " + std::to_string(maxKeyDepth) +
                        " levels; nothing was imported", 1);
    if (keys.size() > maxImportKeys)
      throw Failure(source + ": more than " + std::to_string(maxImportKeys) +
                        " keys; nothing was imported", 1);
  }
}

// A value's data as RegSetValueExW takes it, wide text with its terminator, made in one
// buffer of its final size just before it is set.
std::wstring wideText(const ValueChange& value) {
  std::wstring wide;
  if (value.form == ValueChange::Form::utf16le) {
    wideOfUtf16le(reinterpret_cast<const BYTE*>(value.data.data()), value.data.size(), wide);
    return wide;
  }
  std::string_view text = value.textData();
  int size = static_cast<int>(text.size());
  int chars = size ? MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0) : 0;
  wide.assign(static_cast<size_t>(std::max(chars, 0)) + 1, L'\0');
  if (chars > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), chars);
  return wide;
}

// Sets the value, then lets go of the file's copy of its data: a long text is held once in
// the file's form and once widened, never both for every value.
LONG setValue(HKEY key, const std::wstring& name, ValueChange& value) {
  // Plain text goes to the store as the UTF-8 it already is: widened, a long value took four
  // bytes a character on top of the file's copy.
  if (value.form == ValueChange::Form::text && value.type == REG_SZ &&
      value.textData().find('\0') == std::string_view::npos) {
    LONG rc = ce::registry::setTextValue(key, name.c_str(), value.textData());
    std::string().swap(value.data);
    return rc;
  }
  if (value.form == ValueChange::Form::bytes)
    return RegSetValueExW(key, name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size()));
  std::wstring wide = wideText(value);
  std::string().swap(value.data);
  return RegSetValueExW(key, name.c_str(), 0, value.type,
                        reinterpret_cast<const BYTE*>(wide.data()),
                        static_cast<DWORD>(wide.size() * sizeof(WCHAR)));
}

}  // namespace

std::string readImportFile(const std::string& file, size_t maxBytes) {
  std::string bytes;
  if (file == "-") {
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) {
      if (bytes.size() + n > maxBytes) tooLarge("<stdin>", "", maxBytes);
      bytes.append(chunk, n);
    }
    if (std::ferror(stdin)) throw Failure("cannot read standard input", 1);
    return bytes;
  }
  FILE* in = std::fopen(file.c_str(), "rb");
  if (!in) throw Failure("cannot open " + file + ": " + std::strerror(errno), 1);
  struct stat status {};
  if (fstat(fileno(in), &status) == 0 && S_ISREG(status.st_mode)) {
    if (static_cast<size_t>(status.st_size) > maxBytes) {
      std::fclose(in);
      tooLarge(file, megabytes(static_cast<size_t>(status.st_size)), maxBytes);
    }
    bytes.reserve(static_cast<size_t>(status.st_size));
  }
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
    if (bytes.size() + n > maxBytes) {
      std::fclose(in);
      tooLarge(file, "", maxBytes);
    }
    bytes.append(chunk, n);
  }
  bool failed = std::ferror(in);
  std::fclose(in);
  if (failed) throw Failure("cannot read " + file, 1);
  return bytes;
}

std::vector<KeyChange> parseRegistryFile(std::string&& bytes, const std::string& source,
                                         std::string& text) {
  std::string problem;
  if (!fileTextAsUtf8(std::move(bytes), text, problem)) throw Failure(source + ": " + problem, 1);
  LineReader reader(text, source);
  std::vector<KeyChange> changes;
  std::string_view line;
  bool header = false;
  while (reader.next(line)) {
    if (!header) {
      if (line.empty()) continue;
      std::string_view first = trimmed(line);
      if (first != regedit4Header && first != version5Header)
        reader.fail(std::string("not a registry file (the first line must be ") + regedit4Header +
                    " or " + version5Header + ")");
      header = true;
      continue;
    }
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == ';' || line[first] == '#') continue;
    line.remove_prefix(first);
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string_view::npos || !onlyCommentFrom(line, close + 1))
        reader.fail("a key line must end with ]");
      bool remove = line.size() > 1 && line[1] == '-';
      // The last key's values are complete: let go of the room its list grew into.
      if (!changes.empty()) changes.back().values.shrink_to_fit();
      KeyChange change;
      change.path = keyOfHeader(line.substr(remove ? 2 : 1, close - (remove ? 2 : 1)), reader);
      change.remove = remove;
      if (remove && change.path.empty())
        reader.fail("HKEY_LOCAL_MACHINE itself cannot be deleted");
      changes.push_back(std::move(change));
      continue;
    }
    if (changes.empty() || changes.back().remove) reader.fail("a value outside any key");
    ValueChange value;
    size_t at = 0;
    if (line.front() == '@') {
      at = 1;
    } else if (!readQuoted(line, at, value.name)) {
      reader.fail("a value line starts with @ or a quoted name");
    }
    // The device's names are counted strings, but RegSetValueExW takes them NUL-terminated: a
    // NUL would cut the name short and set another value.
    if (value.name.find('\0') != std::string::npos)
      reader.fail("a value name cannot hold a NUL character (\\0)");
    skipBlanks(line, at);
    if (at >= line.size() || line[at] != '=') reader.fail("'=' expected after the value name");
    ++at;
    skipBlanks(line, at);
    std::string_view data = line.substr(at);
    std::string joined;
    if (data.empty() || data.front() != '"') data = beforeComment(data);
    // Hex lists may go on over several lines, each but the last ending with '\'.
    if (data.substr(0, 3) == "hex" && !data.empty() && data.back() == '\\') {
      joined = data;
      while (!joined.empty() && joined.back() == '\\') {
        joined.pop_back();
        std::string_view more;
        if (!reader.next(more)) reader.fail("the file ends inside a continued value");
        joined += beforeComment(more);
      }
      data = joined;
    }
    if (data.empty()) reader.fail("no data after '='");
    if (data == "-") {
      value.remove = true;
    } else {
      parseData(data, value, reader);
    }
    changes.back().values.push_back(std::move(value));
  }
  if (!header) reader.fail("not a registry file (it is empty)");
  checkLimits(changes, source);
  return changes;
}

void applyChanges(std::vector<KeyChange>&& changes) {
  std::string failed;
  LONG rc = ce::registry::runInTransaction([&]() -> LONG {
    for (auto& change : changes) {
      std::wstring path = widen(change.path);
      failed = keyDisplayName(path);
      if (change.remove) {
        LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
        // Deleting what is not there leaves the registry as the file wants it.
        if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return result;
        continue;
      }
      HKEY key = nullptr;
      LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
      if (result != ERROR_SUCCESS) return result;
      for (auto& value : change.values) {
        std::wstring name = widen(value.name);
        if (value.remove) {
          result = RegDeleteValueW(key, name.c_str());
          if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
        } else {
          result = setValue(key, name, value);
        }
        if (result != ERROR_SUCCESS) {
          failed += " value \"" + value.name + "\"";
          break;
        }
      }
      RegCloseKey(key);
      if (result != ERROR_SUCCESS) return result;
    }
    failed.clear();  // a failure from here on is the commit's, not one change's
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS)
    fail(failed.empty() ? std::string("cannot import: the registry refused the change")
                        : "cannot import " + failed + "; nothing was imported",
         rc);
}

}  // namespace cedevice::reg
