// Registry keys named so that any process of the device can open them again: by the kernel's
// own full name of a key ("\REGISTRY\User\<sid>\Software\..."), which neither a handle's
// lifetime nor this process's redirection of HKEY_LOCAL_MACHINE changes. Platform-internal.
#pragma once

#include <windows.h>

#include <string>

namespace ce::win32 {

// A key handle of our own, closed when it goes. Moves, does not copy.
class OwnedKey {
 public:
  OwnedKey() = default;
  explicit OwnedKey(HKEY key) : key_(key) {}
  ~OwnedKey() { reset(); }
  OwnedKey(OwnedKey&& other) noexcept : key_(other.key_) { other.key_ = nullptr; }
  OwnedKey& operator=(OwnedKey&& other) noexcept {
    if (this != &other) {
      reset();
      key_ = other.key_;
      other.key_ = nullptr;
    }
    return *this;
  }
  OwnedKey(const OwnedKey&) = delete;
  OwnedKey& operator=(const OwnedKey&) = delete;

  HKEY get() const { return key_; }
  void reset(HKEY key = nullptr) {
    if (key_) RegCloseKey(key_);
    key_ = key;
  }

 private:
  HKEY key_ = nullptr;
};

// The full name of `key`, a handle or a predefined key as this process sees it.
// ERROR_SUCCESS or why not (ERROR_INVALID_HANDLE for a handle that names no key).
LONG keyFullName(HKEY key, std::wstring& name);

// Opens the key of a full name that keyFullName gave; ERROR_FILE_NOT_FOUND when it is gone.
LONG openKeyByFullName(const std::wstring& name, REGSAM access, OwnedKey& key);

}  // namespace ce::win32
