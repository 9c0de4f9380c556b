// The object store's primitives on Windows.
//
// Why files replaced whole, and a named mutex, rather than a database: the Windows build may
// use nothing but what Windows and the C++ library carry (Debian ships no SQLite for mingw-w64,
// and nothing is downloaded), and the stores are small: a run-at-time request per program, the
// PIM items a test or a scenario makes. So a change reads the store, writes the new content
// to "<store>.new", flushes it (FlushFileBuffers: on the disk before it counts) and moves it
// over the store with MoveFileExW(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), which
// replaces the name in one step: every reader sees the old store or the new one, and a crash
// at any point leaves one of the two whole. A stray "<store>.new" is the remains of a crash
// and is simply written over.
//
// Processes are serialised by a named mutex rather than LockFileEx: a mutex can be waited for
// with a timeout (LockFileEx waits for ever or not at all), and the system releases it, as
// abandoned, when its holder dies; since the store is always whole, an abandoned mutex is
// taken over as it is. The name is derived from the store's full path, so that two devices
// never share a lock and every spelling of one path does.
#include "platform/win32/objectstore/object_store.h"

#include <cstdint>
#include <cwchar>
#include <vector>

namespace ce::win32 {

namespace {

DWORD makeFolder(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS) return error;
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
             ? ERROR_SUCCESS
             : ERROR_DIRECTORY;
}

std::wstring environmentValue(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return L"";
  std::wstring value(size, L'\0');
  DWORD got = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(got < size ? got : 0);
  return value;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

DWORD storeFolder(std::wstring& folder) {
  std::wstring home = environmentValue(L"CE_DEVICE_HOME");
  if (home.empty()) {
    std::wstring local = environmentValue(L"LOCALAPPDATA");
    if (local.empty()) return ERROR_PATH_NOT_FOUND;
    if (DWORD error = makeFolder(local + L"\\CeDevice"); error != ERROR_SUCCESS) return error;
    home = local + L"\\CeDevice";
  } else if (DWORD error = makeFolder(home); error != ERROR_SUCCESS) {
    return error;
  }
  while (!home.empty() && (home.back() == L'\\' || home.back() == L'/')) home.pop_back();
  std::wstring system = home + L"\\system";
  if (DWORD error = makeFolder(system); error != ERROR_SUCCESS) return error;
  folder = system;
  return ERROR_SUCCESS;
}

DWORD readWholeFile(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    DWORD error = GetLastError();
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
  }
  char chunk[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr)) return GetLastError();
    if (got == 0) return ERROR_SUCCESS;
    bytes.append(chunk, got);
  }
}

DWORD replaceWholeFile(const std::wstring& path, const std::string& bytes) {
  const std::wstring fresh = path + L".new";
  {
    Handle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return GetLastError();
    size_t at = 0;
    while (at < bytes.size()) {
      DWORD chunk = static_cast<DWORD>(bytes.size() - at > 0x10000000 ? 0x10000000
                                                                       : bytes.size() - at);
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data() + at, chunk, &written, nullptr) || written == 0) {
        DWORD error = written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                                      : GetLastError();
        DeleteFileW(fresh.c_str());
        return error;
      }
      at += written;
    }
    if (!FlushFileBuffers(file.get())) {
      DWORD error = GetLastError();
      DeleteFileW(fresh.c_str());
      return error;
    }
  }
  if (!MoveFileExW(fresh.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DWORD error = GetLastError();
    DeleteFileW(fresh.c_str());
    return error;
  }
  return ERROR_SUCCESS;
}

std::wstring storeObjectName(const std::wstring& storePath, const wchar_t* kind) {
  std::vector<wchar_t> full(MAX_PATH * 4);
  DWORD length = GetFullPathNameW(storePath.c_str(), static_cast<DWORD>(full.size()),
                                  full.data(), nullptr);
  std::wstring path = length > 0 && length < full.size() ? std::wstring(full.data(), length)
                                                         : storePath;
  CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  // FNV-1a over the UTF-16 units: a stable hash, the same in every process and build.
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t unit : path) {
    hash ^= static_cast<uint16_t>(unit);
    hash *= 1099511628211ull;
  }
  wchar_t name[96];
  std::swprintf(name, sizeof name / sizeof name[0], L"CeDeviceStore.%ls.%016llx", kind,
                static_cast<unsigned long long>(hash));
  return name;
}

StoreLock::StoreLock(const std::wstring& storePath, DWORD timeoutMs) {
  mutex_ = CreateMutexW(nullptr, FALSE, storeObjectName(storePath, L"lock").c_str());
  if (!mutex_) {
    error_ = GetLastError();
    return;
  }
  switch (WaitForSingleObject(mutex_, timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder died; the store it left is whole all the same
      return;
    case WAIT_TIMEOUT:
      error_ = ERROR_SHARING_VIOLATION;
      break;
    default:
      error_ = GetLastError();
      break;
  }
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

StoreLock::StoreLock(StoreLock&& other) noexcept : mutex_(other.mutex_), error_(other.error_) {
  other.mutex_ = nullptr;
  other.error_ = ERROR_INVALID_HANDLE;
}

StoreLock::~StoreLock() {
  if (!mutex_) return;
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
}

bool isUtf8(const std::string& text) {
  if (text.empty()) return true;
  if (text.size() > 0x7FFFFFFF) return false;
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), nullptr, 0) > 0;
}

std::string utf8Of(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string bytes(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        size, nullptr, nullptr);
  return bytes;
}

}  // namespace ce::win32
