// One registry write taken back: what it changed, as it was before, with its keys named by
// their full names so that any process of the device can put it back, even after the writer
// died. Platform-internal.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ce::win32 {

struct SavedValue {
  std::wstring name;     // empty: the key's default value
  bool existed = false;  // false: taking the write back deletes the value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Undo {
  enum Kind : DWORD {
    kRestoreValues = 1,  // put `values` of the key `keyPath` back as they were
    kRemoveKey = 2,      // remove `subKey` of `keyPath` again, with all below it
    kRemakeKey = 3,      // make `subKey` of `keyPath` again, with `values`
  };
  Kind kind = kRestoreValues;
  std::wstring keyPath;
  std::wstring subKey;
  std::vector<SavedValue> values;
};

// The value `name` of `key` as it is now; a value that cannot be read counts as absent only
// when the key says there is none (ERROR_SUCCESS), otherwise that error.
LONG saveValue(HKEY key, LPCWSTR name, SavedValue& value);

// Every value of `key` as it is now.
LONG saveAllValues(HKEY key, std::vector<SavedValue>& values);

// The bytes an undo is kept as, and back; decodeUndo refuses anything it did not write.
std::vector<BYTE> encodeUndo(const Undo& undo);
bool decodeUndo(const BYTE* bytes, size_t size, Undo& undo);

// Takes the write back. What is gone already (a key a later undo removed) is left alone, so
// taking back a journal a second time, after a process died while taking it back, ends in
// the same state.
void applyUndo(const Undo& undo);

}  // namespace ce::win32
