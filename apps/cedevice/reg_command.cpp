// `cedevice reg`: reads and changes the device registry as other programs on the device do,
// and exports and imports it as REGEDIT4 text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/reg_file.h"
#include "apps/cedevice/reg_keys.h"

namespace {

using namespace cedevice::reg;

struct Options {
  std::string key;
  std::string value;
  std::string data;
  std::string file;
};

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

void setValue(const Options& options) {
  std::wstring path = keyPathOf(options.key);
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) fail("cannot create " + keyDisplayName(path), rc);
  std::wstring name = cedevice::widen(options.value);
  std::wstring data = cedevice::widen(options.data);
  rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                      static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) fail("cannot set \"" + options.value + "\" in " + keyDisplayName(path), rc);
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
  std::vector<Change> changes;
  if (options.file == "-") {
    changes = parseRegistryFile(std::cin, "<stdin>");
  } else {
    std::ifstream in(options.file, std::ios::binary);
    if (!in) throw cedevice::Failure("cannot open " + options.file + ": " + std::strerror(errno), 1);
    changes = parseRegistryFile(in, options.file);
  }
  applyChanges(changes);
}

void setup(CLI::App& app) {
  static Options options;
  auto* reg = app.add_subcommand("reg", "Read and change the device registry "
                                        "(HKEY_LOCAL_MACHINE); export and import REGEDIT4 text");
  reg->require_subcommand(1);

  auto* get = reg->add_subcommand("get", "Print a value's data, or every value of a key as "
                                         "name=data lines (@ is the default value)");
  get->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  auto* getValue = get->add_option("value", options.value, "The value's name (\"\": default)");
  get->callback([getValue] { getValues(options, getValue->count() > 0); });

  auto* set = reg->add_subcommand("set", "Set a REG_SZ value, creating the key if needed");
  set->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  set->add_option("value", options.value, "The value's name (\"\": default)")->required();
  set->add_option("data", options.data, "The text to store (UTF-8)")->required();
  set->callback([] { setValue(options); });

  auto* remove = reg->add_subcommand("delete", "Delete a value, or a key with everything "
                                               "below it");
  remove->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  auto* removeValue = remove->add_option("value", options.value, "The value's name");
  remove->callback([removeValue] { deleteKeyOrValue(options, removeValue->count() > 0); });

  auto* list = reg->add_subcommand("list", "List the subkeys of a key, one a line, in creation "
                                           "order");
  list->add_option("key", options.key, keyHelp)->required()->check(keyValidator());
  list->callback([] {
    Key key(keyPathOf(options.key));
    for (const auto& name : key.subkeys()) std::printf("%s\n", cedevice::narrow(name).c_str());
  });

  auto* exportCommand = reg->add_subcommand(
      "export", "Write a key and everything below it (default: all of HKEY_LOCAL_MACHINE) as "
                "REGEDIT4 text in UTF-8 to standard output");
  exportCommand->add_option("key", options.key, keyHelp)->check(keyValidator());
  exportCommand->callback([] {
    exportKey(keyPathOf(options.key), std::cout);
    std::cout.flush();
    if (!std::cout) throw cedevice::Failure("cannot write the export", 1);
  });

  auto* importCommand = reg->add_subcommand(
      "import", "Apply a REGEDIT4 file: all of it, or nothing when a line is not understood or "
                "the registry refuses a change");
  importCommand->add_option("file", options.file, "The file (- for standard input)")->required();
  importCommand->callback([] { importFile(options); });
}

cedevice::CommandGroup group(50, setup);

}  // namespace
