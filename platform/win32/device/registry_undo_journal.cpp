// Entries are values named by their sequence number in ten decimal digits, so that names sort
// as numbers do, whatever order the registry lists them in (Windows: as made; Wine: by name).
#include "platform/win32/device/registry_undo_journal.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ce::win32 {

namespace {

constexpr size_t kSequenceDigits = 10;

std::wstring entryName(DWORD sequence) {
  std::wstring name(kSequenceDigits, L'0');
  for (size_t at = kSequenceDigits; sequence != 0; sequence /= 10)
    name[--at] = static_cast<WCHAR>(L'0' + sequence % 10);
  return name;
}

// The sequence number of an entry's name; false for a name the journal does not write.
bool entrySequence(const WCHAR* name, DWORD length, DWORD& sequence) {
  if (length != kSequenceDigits) return false;
  unsigned long long number = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
    number = number * 10 + static_cast<unsigned long long>(name[i] - L'0');
  }
  if (number > MAXDWORD) return false;
  sequence = static_cast<DWORD>(number);
  return true;
}

// The journal's entries, newest first.
std::vector<DWORD> entriesNewestFirst(HKEY journal) {
  std::vector<DWORD> sequences;
  WCHAR name[kSequenceDigits + 2];
  for (DWORD index = 0;; ++index) {
    DWORD length = kSequenceDigits + 2;
    LONG rc = RegEnumValueW(journal, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_MORE_DATA) continue;  // a name longer than ours: not an entry
    if (rc != ERROR_SUCCESS) break;
    DWORD sequence = 0;
    if (entrySequence(name, length, sequence)) sequences.push_back(sequence);
  }
  std::sort(sequences.rbegin(), sequences.rend());
  return sequences;
}

bool readEntry(HKEY journal, const std::wstring& name, std::vector<BYTE>& bytes) {
  DWORD size = 0;
  DWORD type = REG_NONE;
  if (RegQueryValueExW(journal, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_BINARY)
    return false;
  bytes.resize(size);
  if (RegQueryValueExW(journal, name.c_str(), nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS)
    return false;
  bytes.resize(size);
  return true;
}

}  // namespace

void UndoJournal::takeBackFrom(HKEY journal, DWORD mark, bool all) {
  std::vector<BYTE> bytes;
  for (DWORD sequence : entriesNewestFirst(journal)) {
    if (!all && sequence < mark) break;
    std::wstring name = entryName(sequence);
    Undo undo;
    if (readEntry(journal, name, bytes) && decodeUndo(bytes.data(), bytes.size(), undo))
      applyUndo(undo);
    else
      std::fprintf(stderr, "registry: undo journal entry %lu is unreadable, skipped\n",
                   static_cast<unsigned long>(sequence));
    // A whole journal goes at once when taken back; a nested body's entries one by one.
    if (!all) RegDeleteValueW(journal, name.c_str());
  }
}

LONG UndoJournal::takeBackLeftover() {
  HKEY found = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_QUERY_VALUE, &found);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (rc != ERROR_SUCCESS) return rc;
  {
    OwnedKey journal(found);
    takeBackFrom(journal.get(), 0, true);
  }
  // Removed only now: a process that dies while taking back leaves the journal for the next,
  // which takes all of it back again, to the same end (applyUndo()).
  return RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

LONG UndoJournal::record(const Undo& undo) {
  if (!key_.get()) {
    HKEY made = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &made, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    key_.reset(made);
  }
  std::vector<BYTE> bytes = encodeUndo(undo);
  LONG rc = RegSetValueExW(key_.get(), entryName(next_).c_str(), 0, REG_BINARY, bytes.data(),
                           static_cast<DWORD>(bytes.size()));
  if (rc == ERROR_SUCCESS) ++next_;
  return rc;
}

void UndoJournal::takeBack(DWORD mark) {
  if (!key_.get() || mark >= next_) return;
  if (mark > 0) {
    takeBackFrom(key_.get(), mark, false);
    next_ = mark;
    return;
  }
  // The whole transaction: the journal goes with it. Should it stay, the next transaction
  // takes it back once more, to the same end.
  takeBackFrom(key_.get(), 0, true);
  key_.reset();
  next_ = 0;
  RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

LONG UndoJournal::clear() {
  if (!key_.get()) return ERROR_SUCCESS;
  key_.reset();
  LONG rc = RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  if (rc != ERROR_SUCCESS) {
    // Still there: open it again, so that the caller can take its writes back.
    HKEY again = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &again) == ERROR_SUCCESS)
      key_.reset(again);
  }
  return rc;
}

}  // namespace ce::win32
