// Registry files: the registry written out and read back by `reg export` and `reg import`.
//
// Two forms, as the desktop registry editors write them. "Windows Registry Editor Version 5.00"
// in UTF-16LE with a BOM (the default), and "REGEDIT4" in code page 1252. Then for each key a
// "[HKEY_LOCAL_MACHINE\...]" line followed by its values, one a line:
//   @="text"                 the default value
//   "name"="text"            REG_SZ; '\' and '"' are written \\ and \"
//   "name"=dword:0000001e    REG_DWORD
//   "name"=hex:01,02         REG_BINARY
//   "name"=hex(b):...        any other type, by its number in hexadecimal. Text types
//                            (hex(1), hex(2), hex(7)) are UTF-16LE: a REG_SZ that is not one
//                            plain line, or has no form in code page 1252 (REGEDIT4), goes here.
// Reading takes either header in UTF-16LE, UTF-8 or code page 1252, "[-KEY]" (delete the key),
// "name"=- (delete the value), \n escapes, comment lines (';' or '#'), a trailing "; comment",
// blanks around '=' and hex lists continued with a trailing '\'.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "apps/cedevice/reg_keys.h"

namespace cedevice::reg {

enum class FileFormat { version5, regedit4 };

// Writes the key at `path` and everything below it, subkeys in the registry's order. Throws
// Failure (exit 1) before writing anything when the file could not be imported back (deeper
// or more keys than the limits below); a name no file can carry is left out, the rest
// written, and then Failure names what was left out.
void exportKey(const std::wstring& path, FileFormat format, std::ostream& out);

// What one import may create, checked before anything is written. The key count holds an
// export of any registry a device keeps (a key with 100,000 subkeys among them); the memory
// it costs is bounded by the file size limit.
constexpr size_t maxImportKeys = 1000000;
constexpr size_t maxKeyDepth = 512;
// The largest file an import reads unless told otherwise, in MB of 2^20 bytes: far above any
// device's registry, low enough that a mistaken file is refused before it costs memory.
constexpr unsigned defaultImportMegabytes = 64;

// One value line of a file, kept in the file's own compact form until it is applied.
struct ValueChange {
  enum class Form { text, utf16le, bytes };
  std::string name;  // UTF-8, "" for the default value; never holds a NUL
  bool remove = false;
  DWORD type = REG_NONE;
  Form form = Form::bytes;
  std::string data;  // text: UTF-8 of a quoted string; utf16le: a text type's hex bytes
  // text without escapes: the string in the file's own text, which `data` then leaves empty.
  // Most values are such strings, and a copy of each cost more than the file.
  std::string_view plain;
  std::string_view textData() const { return data.empty() ? plain : std::string_view(data); }
};

// One [key] section: the key to create (or, with `remove`, to delete) and its values.
struct KeyChange {
  std::string path;  // UTF-8, below HKEY_LOCAL_MACHINE
  bool remove = false;
  std::vector<ValueChange> values;
};

// The whole of a file (`file`, or standard input for "-"). Throws Failure (exit 1) with one
// line when it cannot be read or is larger than `maxBytes`.
std::string readImportFile(const std::string& file, size_t maxBytes);

// The changes a file's bytes ask for. Throws Failure (exit 1) "<source>:<line>: <problem>" at
// the first line that is not understood, or when the file asks for more than the limits above;
// nothing is changed by reading. `text` receives the file as UTF-8: the changes point into it,
// so it must stay, unchanged, until they are applied.
std::vector<KeyChange> parseRegistryFile(std::string&& bytes, const std::string& source,
                                         std::string& text);

// Applies all changes in one registry transaction: all of them, or none. Only this takes the
// registry's write lock. The changes are used up: each value's data is let go once it is set.
void applyChanges(std::vector<KeyChange>&& changes);

}  // namespace cedevice::reg
