// Per-thread COM initialisation. Objects here are plain in-process objects, so an apartment
// is only a count and a threading model; there is nothing to marshal.
#include <mutex>

#include "platform/linux/com/com.h"
#include "platform/linux/com/com_state.h"
#include "platform/linux/kernel/platform_state.h"

namespace {

struct Apartment {
  int initCount = 0;
  DWORD model = COINIT_MULTITHREADED;
};

thread_local Apartment apartment;

// Only the model bit matters; the other COINIT_* bits are hints.
DWORD modelOf(DWORD coInit) { return coInit & COINIT_APARTMENTTHREADED; }

void resetApartment() { apartment = Apartment{}; }

void registerResetHookOnce() {
  static std::once_flag once;
  std::call_once(once, [] { ce::addResetHook(&resetApartment); });
}

}  // namespace

namespace ce::com {
bool threadInitialized() { return apartment.initCount > 0; }
}  // namespace ce::com

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  registerResetHookOnce();
  long long forced;
  if (ce::failPointHit("CoInitializeEx", forced)) return static_cast<HRESULT>(forced);
  if (reserved != nullptr) return E_INVALIDARG;
  DWORD model = modelOf(coInit);
  if (apartment.initCount > 0) {
    if (apartment.model != model) return RPC_E_CHANGED_MODE;
    ++apartment.initCount;
    return S_FALSE;
  }
  apartment.model = model;
  apartment.initCount = 1;
  return S_OK;
}

void CoUninitialize() {
  if (apartment.initCount > 0) --apartment.initCount;
}
