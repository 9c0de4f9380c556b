// The device's object store on Windows: the folder that holds the stores of the device-only
// services (run-at-time requests, PIM items), and the three primitives each store is made of:
// a whole-file read, a whole-file replacement that is durable and atomic, and a lock that
// serialises the processes of one device on one store. Platform-internal.
#pragma once

#include <string>

#include "platform/windows.h"

namespace ce::win32 {

// The store folder, created when missing: %CE_DEVICE_HOME%\system when that is set (tests and
// scenarios give each device its own), else %LOCALAPPDATA%\CeDevice\system. ERROR_SUCCESS or
// the reason it cannot be made.
DWORD storeFolder(std::wstring& folder);

// The whole content of `path`; ERROR_FILE_NOT_FOUND when there is no such file.
DWORD readWholeFile(const std::wstring& path, std::string& bytes);

// Replaces `path` with `bytes`: written beside it, flushed to the disk, then moved over it in
// one step. A reader sees the old content or the new, never a part; a crash leaves the old.
DWORD replaceWholeFile(const std::wstring& path, const std::string& bytes);

// Holds the named mutex of one store while it lives, so that one process at a time reads,
// changes and replaces it. Moves, does not copy.
class StoreLock {
 public:
  // Waits at most `timeoutMs` for another process to let go; error() is then
  // ERROR_SHARING_VIOLATION.
  StoreLock(const std::wstring& storePath, DWORD timeoutMs);
  ~StoreLock();
  StoreLock(StoreLock&& other) noexcept;
  StoreLock& operator=(StoreLock&&) = delete;
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  DWORD error() const { return error_; }
  explicit operator bool() const { return error_ == ERROR_SUCCESS; }

 private:
  HANDLE mutex_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

// The name of a kernel object that belongs to the store at `storePath` ("CeDeviceStore.<kind>.
// <hash of the full path>"): the same for every process that names the store, whatever case or
// relative form it uses, and distinct for two devices.
std::wstring storeObjectName(const std::wstring& storePath, const wchar_t* kind);

// True when `text` is valid UTF-8.
bool isUtf8(const std::string& text);
// `text` as UTF-8, for a log line or a message to a person.
std::string utf8Of(const std::wstring& text);

}  // namespace ce::win32
