// Writing and reading REGEDIT4 text.
#include "apps/cedevice/reg_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "platform/registry/transaction.h"

namespace cedevice::reg {

namespace {

// What a REGEDIT4 quoted string can carry: no control characters.
bool quotable(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string quoteText(const std::wstring& text) {
  std::string out = "\"";
  for (char c : narrow(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string valueLine(const Value& value) {
  if (!quotable(value.name))
    throw Failure("cannot export the value name \"" + narrow(value.name) +
                      "\": it holds a control character", 1);
  std::string line = value.name.empty() ? "@" : quoteText(value.name);
  line += '=';
  std::wstring text;
  if (textOf(value, text) && quotable(text)) return line + quoteText(text);
  if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
    DWORD number;
    std::memcpy(&number, value.data.data(), sizeof number);
    char digits[16];
    std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(number));
    return line + digits;
  }
  return line + hexData(value);
}

void exportTree(const Key& key, std::ostream& out) {
  std::vector<Value> values = key.values();
  // The root has no header of its own unless it holds values.
  if (!key.path().empty() || !values.empty()) {
    if (!quotable(key.path()))
      throw Failure("cannot export the key " + keyDisplayName(key.path()) +
                        ": its name holds a control character", 1);
    out << '[' << keyDisplayName(key.path()) << "]\n";
    for (const auto& value : values) out << valueLine(value) << '\n';
    out << '\n';
  }
  for (const auto& name : key.subkeys()) {
    Key child(key.path().empty() ? name : key.path() + L"\\" + name);
    exportTree(child, out);
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
    if (number_ == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
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

// A quoted string starting at text[at]; `at` ends after the closing quote.
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
      if (++at >= text.size() || (text[at] != '\\' && text[at] != '"')) return false;
      c = text[at];
    }
    out += c;
  }
  return false;
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
    if (!readQuoted(data, at, text) || at != data.size()) reader.fail("bad string: " + data);
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
  if (!parseHexBytes(list, value.data)) reader.fail("bad hex bytes: " + data);
}

}  // namespace

void exportKey(const std::wstring& path, std::ostream& out) {
  Key key(path);
  out << "REGEDIT4\n\n";
  exportTree(key, out);
}

std::vector<Change> parseRegistryFile(std::istream& in, const std::string& source) {
  LineReader reader(in, source);
  std::vector<Change> changes;
  std::string line;
  bool header = false;
  bool inKey = false;
  std::wstring key;
  while (reader.next(line)) {
    if (!header) {
      if (line.empty()) continue;
      if (line != "REGEDIT4") reader.fail("not a REGEDIT4 file (the first line must be REGEDIT4)");
      header = true;
      continue;
    }
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    line.erase(0, first);
    if (line.front() == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || line.find_first_not_of(" \t", close + 1) != std::string::npos)
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
    if (at >= line.size() || line[at] != '=') reader.fail("'=' expected after the value name");
    std::string data = line.substr(at + 1);
    // Hex lists may go on over several lines, each but the last ending with '\'.
    while (data.rfind("hex", 0) == 0 && !data.empty() && data.back() == '\\') {
      data.pop_back();
      std::string more;
      if (!reader.next(more)) reader.fail("the file ends inside a continued value");
      data += more;
    }
    if (data.empty()) reader.fail("no data after '='");
    if (data == "-") {
      changes.push_back({Change::Kind::deleteValue, key, std::move(value)});
      continue;
    }
    parseData(data, value, reader);
    changes.push_back({Change::Kind::setValue, key, std::move(value)});
  }
  if (!header) reader.fail("not a REGEDIT4 file (it is empty)");
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
