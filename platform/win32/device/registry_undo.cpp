// An undo's bytes: a DWORD kind, the key's full name, the subkey, a DWORD count of values, and
// per value its name, a DWORD "existed", its DWORD type and its data; every text and the data
// as a DWORD length (in WCHARs, in bytes) followed by that many. Read back only by the same
// build on the same machine, so in the machine's own byte order.
#include "platform/win32/device/registry_undo.h"

#include <cstring>

#include "platform/win32/device/registry_key_path.h"

namespace ce::win32 {

namespace {

class Writer {
 public:
  void number(DWORD value) { raw(&value, sizeof value); }
  void text(const std::wstring& text) {
    number(static_cast<DWORD>(text.size()));
    raw(text.data(), text.size() * sizeof(WCHAR));
  }
  void bytes(const std::vector<BYTE>& data) {
    number(static_cast<DWORD>(data.size()));
    raw(data.data(), data.size());
  }
  std::vector<BYTE> take() { return std::move(out_); }

 private:
  void raw(const void* data, size_t size) {
    const BYTE* start = static_cast<const BYTE*>(data);
    out_.insert(out_.end(), start, start + size);
  }
  std::vector<BYTE> out_;
};

// Every read checks what is left, so a journal value cut short or altered reads as refused.
class Reader {
 public:
  Reader(const BYTE* bytes, size_t size) : at_(bytes), left_(size) {}
  bool number(DWORD& value) { return raw(&value, sizeof value); }
  bool text(std::wstring& text) {
    DWORD length = 0;
    if (!number(length) || length > left_ / sizeof(WCHAR)) return false;
    text.resize(length);
    return raw(text.data(), length * sizeof(WCHAR));
  }
  bool bytes(std::vector<BYTE>& data) {
    DWORD length = 0;
    if (!number(length) || length > left_) return false;
    data.resize(length);
    return raw(data.data(), length);
  }
  bool done() const { return left_ == 0; }

 private:
  bool raw(void* data, size_t size) {
    if (size > left_) return false;
    if (size) std::memcpy(data, at_, size);
    at_ += size;
    left_ -= size;
    return true;
  }
  const BYTE* at_;
  size_t left_;
};

void restoreValue(HKEY key, const SavedValue& value) {
  if (value.existed)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  else
    RegDeleteValueW(key, value.name.c_str());
}

}  // namespace

LONG saveValue(HKEY key, LPCWSTR name, SavedValue& value) {
  value.name = name ? name : L"";
  value.existed = false;
  value.data.clear();
  // Sized and read in one loop: the value may grow between the two calls.
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    value.data.resize(size);
    rc = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
    if (rc == ERROR_SUCCESS) {
      value.data.resize(size);
      value.existed = true;
      return ERROR_SUCCESS;
    }
  }
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

LONG saveAllValues(HKEY key, std::vector<SavedValue>& values) {
  values.clear();
  DWORD longestName = 0;
  LONG rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &longestName, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<WCHAR> name(longestName + 1);
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    rc = RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    SavedValue value;
    if ((rc = saveValue(key, std::wstring(name.data(), length).c_str(), value)) != ERROR_SUCCESS)
      return rc;
    values.push_back(std::move(value));
  }
}

std::vector<BYTE> encodeUndo(const Undo& undo) {
  Writer out;
  out.number(undo.kind);
  out.text(undo.keyPath);
  out.text(undo.subKey);
  out.number(static_cast<DWORD>(undo.values.size()));
  for (const SavedValue& value : undo.values) {
    out.text(value.name);
    out.number(value.existed ? 1 : 0);
    out.number(value.type);
    out.bytes(value.data);
  }
  return out.take();
}

bool decodeUndo(const BYTE* bytes, size_t size, Undo& undo) {
  Reader in(bytes, size);
  DWORD kind = 0;
  DWORD count = 0;
  if (!in.number(kind) || kind < Undo::kRestoreValues || kind > Undo::kRemakeKey) return false;
  undo.kind = static_cast<Undo::Kind>(kind);
  if (!in.text(undo.keyPath) || !in.text(undo.subKey) || !in.number(count)) return false;
  undo.values.clear();
  for (DWORD i = 0; i < count; ++i) {
    SavedValue value;
    DWORD existed = 0;
    if (!in.text(value.name) || !in.number(existed) || existed > 1 || !in.number(value.type) ||
        !in.bytes(value.data))
      return false;
    value.existed = existed == 1;
    undo.values.push_back(std::move(value));
  }
  if (undo.keyPath.empty() || (undo.kind != Undo::kRestoreValues && undo.subKey.empty()))
    return false;
  return in.done();
}

void applyUndo(const Undo& undo) {
  OwnedKey key;
  if (openKeyByFullName(undo.keyPath, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return;
  switch (undo.kind) {
    case Undo::kRestoreValues:
      for (const SavedValue& value : undo.values) restoreValue(key.get(), value);
      return;
    case Undo::kRemoveKey:
      RegDeleteTreeW(key.get(), undo.subKey.c_str());
      return;
    case Undo::kRemakeKey: {
      HKEY again = nullptr;
      if (RegCreateKeyExW(key.get(), undo.subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &again, nullptr) != ERROR_SUCCESS)
        return;
      OwnedKey remade(again);
      for (const SavedValue& value : undo.values) restoreValue(remade.get(), value);
      return;
    }
  }
}

}  // namespace ce::win32
