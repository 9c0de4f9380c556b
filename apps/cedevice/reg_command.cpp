// `cedevice reg`: reads and changes the device registry as other programs on the device do,
// and exports and imports it as registry files.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/reg_file.h"
#include "apps/cedevice/reg_keys.h"
#include "apps/cedevice/usage_errors.h"

namespace reg_command {
namespace {

using namespace cedevice::reg;

struct Options {
  std::string key;
  std::string value;
  std::string data;
  std::string file;
  std::string type = "sz";
  bool regedit4 = false;
  unsigned maxMegabytes = defaultImportMegabytes;
};

// `reg set` data of each type, as `reg add /t` takes it.
struct TypeName {
  const char* name;
  DWORD type;
};
const TypeName typeNames[] = {{"sz", REG_SZ},         {"expand_sz", REG_EXPAND_SZ},
                              {"multi_sz", REG_MULTI_SZ}, {"dword", REG_DWORD},
                              {"qword", REG_QWORD},   {"binary", REG_BINARY}};

// A number as `reg add` reads it: decimal, or hexadecimal after 0x.
bool parseNumber(const std::string& text, unsigned long long limit, unsigned long long& number) {
  if (text.empty() || text[0] == '-' || text[0] == '+' ||
      std::isspace(static_cast<unsigned char>(text[0])))
    return false;
  errno = 0;
  char* end = nullptr;
  number = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0' && number <= limit;
}

// The bytes RegSetValueExW takes for `data` of `type`. multi_sz separates its strings with
// "\0", as `reg add` does; binary is hex digits.
std::vector<BYTE> dataOf(DWORD type, const std::string& data) {
  std::vector<BYTE> bytes;
  auto wideBytes = [&bytes](const std::wstring& text) {
    const auto* begin = reinterpret_cast<const BYTE*>(text.c_str());
    bytes.assign(begin, begin + (text.size() + 1) * sizeof(WCHAR));
  };
  unsigned long long number = 0;
  switch (type) {
    case REG_DWORD:
    case REG_QWORD: {
      bool wide = type == REG_QWORD;
      if (!parseNumber(data, wide ? ~0ULL : 0xFFFFFFFFULL, number))
        throw cedevice::Failure("not a " + std::string(wide ? "qword" : "dword") + ": " + data, 2);
      bytes.resize(wide ? 8 : 4);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(number >> (8 * i));
      return bytes;
    }
    case REG_BINARY:
      if (data.size() % 2 != 0 ||
          data.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw cedevice::Failure("binary data is pairs of hex digits: " + data, 2);
      for (size_t i = 0; i < data.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(data.substr(i, 2), nullptr, 16)));
      return bytes;
    case REG_MULTI_SZ: {
      std::wstring all;
      for (size_t start = 0;;) {
        size_t cut = data.find("\\0", start);
        std::wstring part = cedevice::widen(data.substr(start, cut - start));
        if (!part.empty()) all += part + L'\0';
        if (cut == std::string::npos) break;
        start = cut + 2;
      }
      wideBytes(all);  // the list ends with an empty string
      return bytes;
    }
    default:
      wideBytes(cedevice::widen(data));
      return bytes;
  }
}

const char* const keyHelp =
    "HKLM\\..., HKEY_LOCAL_MACHINE\\... or a path below it (Software\\...)";

CLI::Validator keyValidator() {
  return CLI::Validator(
      [](std::string& argument) { return keyArgumentProblem(argument); }, "KEY", "key");
}

void getValues(const Options& options, bool oneValue) {
  Key key(keyPathOf(options.key));
  if (oneValue) {
    std::printf("%s\n", displayData(key.value(cedevice::widen(options.value))).c_str());
    return;
  }
  for (const auto& value : key.values())
    std::printf("%s=%s\n", value.name.empty() ? "@" : cedevice::narrow(value.name).c_str(),
                displayData(value).c_str());
}

// A name no registry file can carry is refused when it is given, rather than left out of
// every export after it.
void refuseControlCharacters(const char* what, const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F)
      throw cedevice::Failure(std::string(what) + " cannot hold a control character: \"" +
                                  cedevice::oneLine(name, false) + "\"",
                              2);
}

void setValue(const Options& options) {
  refuseControlCharacters("a key name", relativeKeyPath(options.key));
  refuseControlCharacters("a value name", options.value);
  DWORD type = REG_SZ;
  for (const auto& known : typeNames)
    if (options.type == known.name) type = known.type;
  std::vector<BYTE> data = dataOf(type, options.data);  // refused before the key is created
  std::wstring path = keyPathOf(options.key);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) fail("cannot create " + keyDisplayName(path), rc);
  std::wstring name = cedevice::widen(options.value);
  rc = RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                      static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    fail("cannot set \"" + options.value + "\" in " + keyDisplayName(path), rc);
}

void deleteKeyOrValue(const Options& options, bool oneValue) {
  std::wstring path = keyPathOf(options.key);
  if (oneValue) {
    Key key(path);
    std::wstring name = cedevice::widen(options.value);
    LONG rc = RegDeleteValueW(key.get(), name.c_str());
    if (rc == ERROR_FILE_NOT_FOUND)
      throw cedevice::Failure("no value \"" + options.value + "\" in " + keyDisplayName(path), 1);
    if (rc != ERROR_SUCCESS) fail("cannot delete \"" + options.value + "\"", rc);
    return;
  }
  if (path.empty()) throw cedevice::Failure("HKEY_LOCAL_MACHINE itself cannot be deleted", 1);
  LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  if (rc == ERROR_FILE_NOT_FOUND) throw cedevice::Failure("no key " + keyDisplayName(path), 1);
  if (rc != ERROR_SUCCESS) fail("cannot delete " + keyDisplayName(path), rc);
}

void importFile(const Options& options) {
  std::string source = options.file == "-" ? "<stdin>" : options.file;
  std::string text;  // what the changes point into, kept until they are applied
  std::vector<KeyChange> changes = parseRegistryFile(
      readImportFile(options.file, static_cast<size_t>(options.maxMegabytes) << 20), source,
      text);
  applyChanges(std::move(changes));
}

void setup(CLI::App& app) {
  static Options options;
  auto* reg = app.add_subcommand("reg", "Read and change the device registry "
                                        "(HKEY_LOCAL_MACHINE); export and import registry files");
  reg->require_subcommand(1);

  auto* get = reg->add_subcommand("get", "Print a value's data, or every value of a key as "
                                         "name=data lines (@ is the default value)");
  get->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  auto* getValue = get->add_option("value", options.value, "The value's name (\"\": default)");
  get->callback([getValue] { getValues(options, getValue->count() > 0); });

  auto* set = reg->add_subcommand("set", "Set a value, creating the key if needed");
  set->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  set->add_option("value", options.value, "The value's name (\"\": default)")->required();
  set->add_option("data", options.data,
                  "The data: text (UTF-8; \\0 separates multi_sz strings), a number (decimal "
                  "or 0x...) or hex digits (binary)")
      ->required();
  std::vector<std::string> names;
  for (const auto& known : typeNames) names.push_back(known.name);
  set->add_option("-t,--type", options.type, "The value's type (default sz)")
      ->check(cedevice::oneOf(names));
  set->callback([] { setValue(options); });

  auto* remove = reg->add_subcommand("delete", "Delete a value, or a key with everything "
                                               "below it");
  remove->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  auto* removeValue = remove->add_option("value", options.value, "The value's name");
  remove->callback([removeValue] { deleteKeyOrValue(options, removeValue->count() > 0); });

  auto* list = reg->add_subcommand("list", "List the subkeys of a key, one a line, in the "
                                           "registry's order (names compared upper-cased)");
  list->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  list->callback([] {
    Key key(keyPathOf(options.key));
    for (const auto& name : key.subkeys()) std::printf("%s\n", cedevice::narrow(name).c_str());
  });

  auto* exportCommand = reg->add_subcommand(
      "export", "Write a key and everything below it (default: all of HKEY_LOCAL_MACHINE) to "
                "standard output as a registry file: version 5.00 in UTF-16LE, or REGEDIT4 in "
                "code page 1252. The file shows the registry at one moment; the device's "
                "writes go on meanwhile");
  exportCommand->add_option("key", options.key, keyHelp)->check(keyValidator());
  exportCommand->add_flag("--regedit4", options.regedit4,
                          "Write the REGEDIT4 form in code page 1252 (text outside it as "
                          "UTF-16LE hex data)");
  exportCommand->callback([] {
    exportKey(keyPathOf(options.key),
              options.regedit4 ? FileFormat::regedit4 : FileFormat::version5, std::cout);
    std::cout.flush();
    if (!std::cout) throw cedevice::Failure("cannot write the export", 1);
  });

  auto* importCommand = reg->add_subcommand(
      "import", "Apply a registry file (REGEDIT4 or version 5.00; UTF-16LE, UTF-8 or code page "
                "1252): all of it, or nothing when a line is not understood, the file is too "
                "large or the registry refuses a change. Limits: a file of at most --max-size "
                "MB; at most " + std::to_string(maxImportKeys) + " keys, parents included, "
                "nested at most " + std::to_string(maxKeyDepth) + " levels; key names of at "
                "most " + std::to_string(CE_REGISTRY_MAX_NAME) + " characters and value names "
                "of at most " + std::to_string(CE_REGISTRY_MAX_VALUE_NAME) + ". What `reg "
                "export` writes stays within them, the file size aside");
  importCommand->add_option("file", options.file, "The file (- for standard input)")->required();
  importCommand
      ->add_option("--max-size", options.maxMegabytes,
                   "Refuse a file larger than this many MB, 1 to 4096 (default " +
                       std::to_string(defaultImportMegabytes) + ")")
      ->check(cedevice::numberIn(1, 4096))
      ->type_name("MB");
  importCommand->callback([] { importFile(options); });
}

cedevice::CommandGroup group(50, setup);

}  // namespace
}  // namespace reg_command
