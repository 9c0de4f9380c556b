// ce::registry::runInTransaction on Windows: a named mutex per device keeps transactions of
// all processes and threads apart, and an undo journal of the thread's writes takes back
// everything a failed body wrote, newest first; a write made outside any transaction is one of
// its own. What a transaction cannot promise here, unlike on Linux: a process killed inside the
// body leaves its writes.
#include "platform/registry_transaction.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/win32/device/fail_points.h"
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

// A handle of our own to a key the body wrote to, valid after the body closed its handle.
class KeyHandle {
 public:
  explicit KeyHandle(HKEY key) {
    if (RegOpenKeyExW(key, nullptr, 0, KEY_ALL_ACCESS, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~KeyHandle() {
    if (key_) RegCloseKey(key_);
  }
  KeyHandle(KeyHandle&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  KeyHandle& operator=(KeyHandle&&) = delete;
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

struct Value {
  std::wstring name;
  bool existed = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// One write to take back: a value to restore, or a key to remove again.
struct Undo {
  KeyHandle key;
  bool removeKey = false;
  std::wstring subKey;              // removeKey: below `key`
  std::vector<Value> values;        // the values to put back, as they were
};

struct Transaction {
  int depth = 0;
  std::vector<Undo> journal;
};

Transaction& current() {
  thread_local Transaction transaction;
  return transaction;
}

Value readValue(HKEY key, LPCWSTR name) {
  Value value;
  value.name = name ? name : L"";
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
    return value;
  value.data.resize(size);
  if (RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) !=
      ERROR_SUCCESS)
    return value;
  value.data.resize(size);
  value.existed = true;
  return value;
}

std::vector<Value> allValues(HKEY key) {
  std::vector<Value> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD length = 16384;
    if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    values.push_back(readValue(key, name));
  }
  return values;
}

void restore(HKEY key, const Value& value) {
  if (value.existed)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  else
    RegDeleteValueW(key, value.name.c_str());
}

void undoAll(std::vector<Undo>& journal) {
  for (auto undo = journal.rbegin(); undo != journal.rend(); ++undo) {
    if (!undo->key.get()) continue;
    if (undo->removeKey) {
      RegDeleteTreeW(undo->key.get(), undo->subKey.c_str());
      continue;
    }
    if (!undo->subKey.empty()) {
      // A removed key: made again, with its values.
      HKEY again = nullptr;
      if (RegCreateKeyExW(undo->key.get(), undo->subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &again, nullptr) != ERROR_SUCCESS)
        continue;
      for (const Value& value : undo->values) restore(again, value);
      RegCloseKey(again);
      continue;
    }
    for (const Value& value : undo->values) restore(undo->key.get(), value);
  }
  journal.clear();
}

bool journaling() { return current().depth > 0; }

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
  std::wstring missing =
      journaling() && subKey && *subKey ? firstMissingLevel(key, subKey) : std::wstring();
  LONG rc = RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security, result,
                            disposition);
  if (rc == ERROR_SUCCESS && !missing.empty())
    current().journal.push_back(Undo{KeyHandle(key), true, missing, {}});
  return rc;
}

LONG CeRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                      DWORD size) {
  if (long long forced; ce::win32::failPointHit("RegSetValueExW", forced))
    return static_cast<LONG>(forced);
  if (!journaling())
    return asItsOwnTransaction(
        [&] { return RegSetValueExW(key, name, reserved, type, data, size); });
  current().journal.push_back(Undo{KeyHandle(key), false, L"", {readValue(key, name)}});
  return RegSetValueExW(key, name, reserved, type, data, size);
}

LONG CeRegDeleteValueW(HKEY key, LPCWSTR name) {
  if (!journaling()) return asItsOwnTransaction([&] { return RegDeleteValueW(key, name); });
  current().journal.push_back(Undo{KeyHandle(key), false, L"", {readValue(key, name)}});
  return RegDeleteValueW(key, name);
}

LONG CeRegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (!journaling()) return asItsOwnTransaction([&] { return RegDeleteKeyW(key, subKey); });
  if (subKey && *subKey) {
    HKEY doomed = nullptr;
    if (RegOpenKeyExW(key, subKey, 0, KEY_READ, &doomed) == ERROR_SUCCESS) {
      current().journal.push_back(Undo{KeyHandle(key), false, subKey, allValues(doomed)});
      RegCloseKey(doomed);
    }
  }
  return RegDeleteKeyW(key, subKey);
}

namespace ce::registry {

namespace {

// The device's transaction mutex, held for the life of the outermost transaction.
class DeviceMutex {
 public:
  DeviceMutex() {
    std::wstring system;
    if (ce::win32::storeFolder(system) != ERROR_SUCCESS) return;
    mutex_ = CreateMutexW(nullptr, FALSE,
                          ce::win32::storeObjectName(system, L"registry").c_str());
    if (!mutex_) return;
    DWORD waited = WaitForSingleObject(mutex_, 5000);
    // An abandoned mutex: its holder died inside a body; what it wrote stands.
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

}  // namespace

LONG runInTransaction(const std::function<LONG()>& body) {
  if (long long forced; ce::win32::failPointHit("runInTransaction", forced))
    return static_cast<LONG>(forced);
  return transact(body);
}

LONG transact(const std::function<LONG()>& body) {
  Transaction& transaction = current();
  if (transaction.depth > 0) {
    // A nested body is part of the outer transaction: its failure fails the whole.
    ++transaction.depth;
    struct Leave {
      Transaction& t;
      ~Leave() { --t.depth; }
    } leave{transaction};
    return body();
  }
  DeviceMutex mutex;
  if (!mutex.held()) return ERROR_BUSY;
  transaction.depth = 1;
  LONG result = ERROR_SUCCESS;
  try {
    result = body();
  } catch (...) {
    undoAll(transaction.journal);
    transaction.depth = 0;
    throw;
  }
  if (result != ERROR_SUCCESS) undoAll(transaction.journal);
  transaction.journal.clear();
  transaction.depth = 0;
  return result;
}

}  // namespace ce::registry
