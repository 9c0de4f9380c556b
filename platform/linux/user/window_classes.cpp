// Window classes: registered per process, by name without regard to case, each with an atom.
#include <algorithm>

#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/user/user_state.h"

using namespace ce::user;

namespace {

// The longest class name the device accepts.
constexpr size_t kMaxClassName = 256;

// The process's own module stands for a null instance, as on the device.
HINSTANCE instanceOrModule(HINSTANCE instance) {
  return instance ? instance : GetModuleHandleW(nullptr);
}

}  // namespace

namespace ce::user {

WindowClass* findClassLocked(State& s, LPCWSTR nameOrAtom, std::wstring* key) {
  if (!nameOrAtom) return nullptr;
  if (IS_INTRESOURCE(nameOrAtom)) {
    auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(nameOrAtom));
    for (auto& [k, cls] : s.classes)
      if (cls.atom == atom) {
        if (key) *key = k;
        return &cls;
      }
    return nullptr;
  }
  std::wstring folded = foldCase(nameOrAtom);
  auto it = s.classes.find(folded);
  if (it == s.classes.end()) return nullptr;
  if (key) *key = folded;
  return &it->second;
}

}  // namespace ce::user

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
  long long forced;
  if (ce::failPointHit("RegisterClassW", forced)) return static_cast<ATOM>(forced);
  if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName ||
      IS_INTRESOURCE(windowClass->lpszClassName) || !*windowClass->lpszClassName ||
      std::wcslen(windowClass->lpszClassName) > kMaxClassName || windowClass->cbClsExtra < 0 ||
      windowClass->cbWndExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::wstring key = foldCase(windowClass->lpszClassName);
  if (s.classes.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  // Atoms 0xC000..0xFFFF, as the device's string atoms; reused only after a full turn.
  ATOM atom = 0;
  for (unsigned tried = 0; tried < 0x4000 && !atom; ++tried) {
    ATOM candidate = s.nextAtom;
    s.nextAtom = candidate == 0xFFFF ? 0xC000 : static_cast<ATOM>(candidate + 1);
    bool used = std::any_of(s.classes.begin(), s.classes.end(),
                            [&](const auto& entry) { return entry.second.atom == candidate; });
    if (!used) atom = candidate;
  }
  if (!atom) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  WindowClass& cls = s.classes[key];
  cls.name = windowClass->lpszClassName;
  cls.atom = atom;
  cls.procedure = windowClass->lpfnWndProc;
  cls.instance = instanceOrModule(windowClass->hInstance);
  return atom;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::wstring key;
  WindowClass* cls = findClassLocked(s, className, &key);
  if (!cls || cls->instance != instanceOrModule(instance)) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  // The device refuses while windows of the class exist; the listener relies on calling this
  // early and ignoring the result.
  if (cls->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  s.classes.erase(key);
  return TRUE;
}
