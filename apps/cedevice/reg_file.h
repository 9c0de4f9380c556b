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
#include <vector>

#include "apps/cedevice/reg_keys.h"

namespace cedevice::reg {

enum class FileFormat { version5, regedit4 };

// Writes the key at `path` and everything below it, keys in creation order.
void exportKey(const std::wstring& path, FileFormat format, std::ostream& out);

// What one import may create, checked before anything is written.
constexpr size_t maxImportKeys = 100000;
constexpr size_t maxKeyDepth = 512;

struct Change {
  enum class Kind { createKey, deleteKey, setValue, deleteValue } kind;
  std::wstring key;  // below HKEY_LOCAL_MACHINE
  Value value;       // setValue, deleteValue (name only)
};

// The changes a file asks for. Throws Failure (exit 1) "<source>:<line>: <problem>" at the
// first line that is not understood, or when the file asks for more than the limits above;
// nothing is changed by reading.
std::vector<Change> parseRegistryFile(std::istream& in, const std::string& source);

// Applies all changes in one registry transaction: all of them, or none.
void applyChanges(const std::vector<Change>& changes);

}  // namespace cedevice::reg
