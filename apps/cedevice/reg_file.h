// REGEDIT4 text: the registry written out and read back by `reg export` and `reg import`.
//
// The file is REGEDIT4 as the desktop registry editor writes it, in UTF-8: a "REGEDIT4" line,
// then for each key a "[HKEY_LOCAL_MACHINE\...]" line followed by its values, one a line:
//   @="text"                 the default value
//   "name"="text"            REG_SZ; '\' and '"' are written \\ and \"
//   "name"=dword:0000001e    REG_DWORD
//   "name"=hex:01,02         REG_BINARY
//   "name"=hex(7):61,00,...  any other type, and a REG_SZ that is not one plain line of text,
//                            as the bytes the registry holds (wide characters are 4 bytes here)
// Reading also takes "[-KEY]" (delete the key), "name"=- (delete the value), comments (';'),
// blank lines and hex lists continued with a trailing '\'.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "apps/cedevice/reg_keys.h"

namespace cedevice::reg {

// Writes the key at `path` and everything below it, keys in creation order.
void exportKey(const std::wstring& path, std::ostream& out);

struct Change {
  enum class Kind { createKey, deleteKey, setValue, deleteValue } kind;
  std::wstring key;  // below HKEY_LOCAL_MACHINE
  Value value;       // setValue, deleteValue (name only)
};

// The changes a file asks for. Throws Failure (exit 1) "<source>:<line>: <problem>" at the
// first line that is not understood; nothing is changed by reading.
std::vector<Change> parseRegistryFile(std::istream& in, const std::string& source);

// Applies all changes in one registry transaction: all of them, or none.
void applyChanges(const std::vector<Change>& changes);

}  // namespace cedevice::reg
