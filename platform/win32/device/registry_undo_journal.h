// The undo journal of a device's running registry transaction, kept in the registry itself:
// one value per write, recorded before the write it guards. Registry writes outlive the
// process that made them (the wineserver or the Windows kernel holds them, not the process),
// so the journal is exactly as durable as the writes it can take back, and the next
// transaction of the device takes back what a killed process left. Platform-internal; the
// caller holds the device's transaction mutex throughout.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/device/registry_key_path.h"
#include "platform/win32/device/registry_undo.h"

namespace ce::win32 {

class UndoJournal {
 public:
  // The journal at `keyPath` below HKEY_CURRENT_USER (undoJournalKeyPath()).
  explicit UndoJournal(std::wstring keyPath) : path_(std::move(keyPath)) {}
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;

  // Takes back, newest first, whatever an earlier transaction left (its process died inside
  // it), and removes it. ERROR_SUCCESS when there was none; an error when it cannot be removed,
  // and no transaction may begin then.
  LONG takeBackLeftover();

  // Notes `undo` before its write; the write must not be made when this fails.
  LONG record(const Undo& undo);

  // Where the entries recorded from now on begin, for a nested body's rollback.
  DWORD mark() const { return next_; }

  // Takes back, newest first, the entries recorded from `mark` on, and forgets them.
  void takeBack(DWORD mark);

  // The transaction committed: the journal goes. When it cannot, the caller takes the writes
  // back itself, or the next transaction would.
  LONG clear();

 private:
  void takeBackFrom(HKEY journal, DWORD mark, bool all);

  std::wstring path_;
  OwnedKey key_;    // open from the first record on
  DWORD next_ = 0;  // the sequence number of the next entry
};

}  // namespace ce::win32
