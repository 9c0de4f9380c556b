// Key handles are numbers, not pointers: a stale or made-up handle is looked up, never
// dereferenced, and fails with ERROR_INVALID_HANDLE.
#include "platform/linux/registry/key_handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/registry/registry.h"

namespace ce::registry {

namespace {

// Far below the predefined keys (0x80000000 and up, sign-extended).
constexpr UINT_PTR firstHandle = 0x1000;

struct OpenKey {
  long long key = rootKeyId;
  std::shared_ptr<Walks> walks = std::make_shared<Walks>();
};

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<UINT_PTR, OpenKey> open;
  OpenKey root;  // HKEY_LOCAL_MACHINE's walks
  UINT_PTR next = firstHandle;

  OpenKey* find(HKEY handle) {
    if (handle == HKEY_LOCAL_MACHINE) return &root;
    auto it = open.find(reinterpret_cast<UINT_PTR>(handle));
    return it == open.end() ? nullptr : &it->second;
  }
};

HandleTable& table() {
  static HandleTable handles;
  return handles;
}

}  // namespace

HKEY openKeyHandle(long long key) {
  HandleTable& handles = table();
  std::lock_guard<std::mutex> lock(handles.mutex);
  UINT_PTR value = handles.next;
  handles.next += 4;
  handles.open.emplace(value, OpenKey{key});
  return reinterpret_cast<HKEY>(value);
}

bool keyOfHandle(HKEY handle, long long& key, std::shared_ptr<Walks>* walks) {
  HandleTable& handles = table();
  std::lock_guard<std::mutex> lock(handles.mutex);
  OpenKey* open = handles.find(handle);
  if (!open) return false;
  key = open->key;
  if (walks) *walks = open->walks;
  return true;
}

bool closeKeyHandle(HKEY handle) {
  if (handle == HKEY_LOCAL_MACHINE) return true;
  HandleTable& handles = table();
  std::lock_guard<std::mutex> lock(handles.mutex);
  return handles.open.erase(reinterpret_cast<UINT_PTR>(handle)) == 1;
}

namespace {
// CloseHandle closes an open key as RegCloseKey does; the predefined keys are no handles.
bool closeKeyForCloseHandle(HANDLE handle) {
  auto key = static_cast<HKEY>(handle);
  return key != HKEY_LOCAL_MACHINE && closeKeyHandle(key);
}
[[maybe_unused]] const bool closerAdded = (ce::addHandleCloser(&closeKeyForCloseHandle), true);
}  // namespace

void resetKeyHandles() {
  HandleTable& handles = table();
  std::lock_guard<std::mutex> lock(handles.mutex);
  handles.open.clear();
  handles.root = OpenKey{};
}

}  // namespace ce::registry
