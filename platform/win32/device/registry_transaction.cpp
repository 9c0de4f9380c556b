// ce::registry::runInTransaction on Windows: a named mutex per device keeps transactions of
// all processes and threads apart, and an undo journal takes back, newest first, everything
// a failed body wrote. The journal lives in the registry beside the device's machine key and
// each entry is written before the write it guards, so a process killed inside a body (or
// ending there through ExitProcess) leaves a journal that the device's next transaction takes
// back before its own body runs: as on Linux, where the store rolls the write back.
//
// A write made outside any transaction is a transaction of its own, so it waits for one that
// another process runs, as a write does on Linux.
//
// What a transaction cannot promise here, unlike on Linux: a read outside any transaction sees
// a killed process's writes until the next transaction takes them back; only the four journaled writes below are taken back
// (RegDeleteTreeW, RegSetKeyValueW and the like are not).
#include "platform/registry_transaction.h"

#include <exception>
#include <string>

#include "platform/win32/device/fail_points.h"
#include "platform/win32/device/machine_key.h"
#include "platform/win32/device/registry_key_path.h"
#include "platform/win32/device/registry_undo.h"
#include "platform/win32/device/registry_undo_journal.h"
#include "platform/win32/objectstore/object_store.h"

// Desktop Windows' own writes, which the journaled ones wrap.
#undef RegCreateKeyExW
#undef RegSetValueExW
#undef RegDeleteValueW
#undef RegDeleteKeyW

namespace ce::registry {
// runInTransaction without the failure a test may plant in it: also what a plain write makes
// of itself, which on Linux no such failure reaches either.
LONG transact(const std::function<LONG()>& body);
}  // namespace ce::registry

namespace {

using ce::win32::OwnedKey;
using ce::win32::Undo;
using ce::win32::UndoJournal;

struct Transaction {
  int depth = 0;
  UndoJournal* journal = nullptr;  // the outermost transaction's, while one runs
};

Transaction& current() {
  thread_local Transaction transaction;
  return transaction;
}

UndoJournal* journaling() { return current().depth > 0 ? current().journal : nullptr; }

// The shallowest level of `subKey` below `key` that does not exist yet; empty when all do.
std::wstring firstMissingLevel(HKEY key, const std::wstring& subKey) {
  size_t end = 0;
  while (end != std::wstring::npos) {
    end = subKey.find(L'\\', end + 1);
    std::wstring prefix = subKey.substr(0, end);
    HKEY probe = nullptr;
    if (RegOpenKeyExW(key, prefix.c_str(), 0, KEY_READ, &probe) != ERROR_SUCCESS) return prefix;
    RegCloseKey(probe);
  }
  return L"";
}

// The value as it is before a write to it, read again through a handle of our own when the
// caller's handle may write but not read.
LONG saveValueBefore(HKEY key, const std::wstring& keyPath, LPCWSTR name,
                     ce::win32::SavedValue& value) {
  LONG rc = ce::win32::saveValue(key, name, value);
  if (rc != ERROR_ACCESS_DENIED) return rc;
  OwnedKey readable;
  if ((rc = ce::win32::openKeyByFullName(keyPath, KEY_QUERY_VALUE, readable)) != ERROR_SUCCESS)
    return rc;
  return ce::win32::saveValue(readable.get(), name, value);
}

// Journals a write to the value `name` of `key`, before it is made.
LONG journalValueWrite(UndoJournal& journal, HKEY key, LPCWSTR name) {
  Undo undo;
  undo.kind = Undo::kRestoreValues;
  if (LONG rc = ce::win32::keyFullName(key, undo.keyPath)) return rc;
  undo.values.emplace_back();
  if (LONG rc = saveValueBefore(key, undo.keyPath, name, undo.values.back())) return rc;
  return journal.record(undo);
}

// A write made outside any transaction is a transaction of its own: like a write on Linux, it
// waits for one that another process runs, instead of landing between that one's read and its
// write, where the write or a rollback would silently take it back.
LONG asItsOwnTransaction(const std::function<LONG()>& write) {
  return ce::registry::transact(write);
}

}  // namespace

LONG CeRegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                       REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                       LPDWORD disposition) {
  if (UndoJournal* journal = journaling(); journal && subKey && *subKey) {
    std::wstring missing = firstMissingLevel(key, subKey);
    if (!missing.empty()) {
      Undo undo;
      undo.kind = Undo::kRemoveKey;
      undo.subKey = missing;
      if (LONG rc = ce::win32::keyFullName(key, undo.keyPath)) return rc;
      if (LONG rc = journal->record(undo)) return rc;
    }
  }
  return RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security, result,
                         disposition);
}

LONG CeRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) {
  if (long long forced; ce::win32::failPointHit("RegSetValueExW", forced))
    return static_cast<LONG>(forced);
  UndoJournal* journal = journaling();
  if (!journal)
    return asItsOwnTransaction(
        [&] { return RegSetValueExW(key, name, reserved, type, data, size); });
  if (LONG rc = journalValueWrite(*journal, key, name)) return rc;
  return RegSetValueExW(key, name, reserved, type, data, size);
}

LONG CeRegDeleteValueW(HKEY key, LPCWSTR name) {
  UndoJournal* journal = journaling();
  if (!journal) return asItsOwnTransaction([&] { return RegDeleteValueW(key, name); });
  if (LONG rc = journalValueWrite(*journal, key, name)) return rc;
  return RegDeleteValueW(key, name);
}

LONG CeRegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  UndoJournal* journal = journaling();
  if (!journal) return asItsOwnTransaction([&] { return RegDeleteKeyW(key, subKey); });
  if (subKey && *subKey) {
    HKEY doomed = nullptr;
    if (RegOpenKeyExW(key, subKey, 0, KEY_READ, &doomed) == ERROR_SUCCESS) {
      OwnedKey owned(doomed);
      Undo undo;
      undo.kind = Undo::kRemakeKey;
      undo.subKey = subKey;
      if (LONG rc = ce::win32::keyFullName(key, undo.keyPath)) return rc;
      if (LONG rc = ce::win32::saveAllValues(doomed, undo.values)) return rc;
      if (LONG rc = journal->record(undo)) return rc;
    }
  }
  return RegDeleteKeyW(key, subKey);
}

namespace ce::registry {

namespace {

// The device's transaction mutex, held for the life of the outermost transaction.
class DeviceMutex {
 public:
  explicit DeviceMutex(const std::wstring& system) {
    mutex_ = CreateMutexW(nullptr, FALSE, ce::win32::storeObjectName(system, L"registry").c_str());
    if (!mutex_) return;
    // An abandoned mutex: its holder died inside a body. Its journal says what to take back,
    // and is looked for whether or not the mutex was abandoned: with no process waiting, the
    // mutex died with its holder.
    DWORD waited = WaitForSingleObject(mutex_, 5000);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  ~DeviceMutex() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  DeviceMutex(const DeviceMutex&) = delete;
  DeviceMutex& operator=(const DeviceMutex&) = delete;
  bool held() const { return held_; }

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

// A nested body is a part of the outer transaction that fails alone: what it wrote is taken
// back, and the outer body decides what its failure means.
LONG runNested(Transaction& transaction, const std::function<LONG()>& body) {
  UndoJournal& journal = *transaction.journal;
  DWORD mark = journal.mark();
  ++transaction.depth;
  struct Leave {
    Transaction& t;
    ~Leave() { --t.depth; }
  } leave{transaction};
  LONG result = ERROR_SUCCESS;
  try {
    result = body();
  } catch (...) {
    journal.takeBack(mark);
    throw;
  }
  if (result != ERROR_SUCCESS) journal.takeBack(mark);
  return result;
}

}  // namespace

LONG runInTransaction(const std::function<LONG()>& body) {
  if (long long forced; ce::win32::failPointHit("runInTransaction", forced))
    return static_cast<LONG>(forced);
  return transact(body);
}

LONG transact(const std::function<LONG()>& body) {
  Transaction& transaction = current();
  if (transaction.depth > 0) return runNested(transaction, body);
  std::wstring system;
  if (DWORD error = ce::win32::storeFolder(system); error != ERROR_SUCCESS)
    return static_cast<LONG>(error);
  DeviceMutex mutex(system);
  if (!mutex.held()) return ERROR_BUSY;
  UndoJournal journal(ce::win32::undoJournalKeyPath(system));
  if (LONG rc = journal.takeBackLeftover()) return rc;
  transaction.depth = 1;
  transaction.journal = &journal;
  struct Leave {
    Transaction& t;
    ~Leave() {
      t.depth = 0;
      t.journal = nullptr;
    }
  } leave{transaction};
  LONG result = ERROR_SUCCESS;
  try {
    result = body();
  } catch (...) {
    journal.takeBack(0);
    throw;
  }
  if (result != ERROR_SUCCESS) {
    journal.takeBack(0);
    return result;
  }
  if (LONG rc = journal.clear()) {
    // A journal left behind would take this commit back at the next transaction: better the
    // caller hears now that nothing was written.
    journal.takeBack(0);
    return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace ce::registry
