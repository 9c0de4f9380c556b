// COM as far as the listener uses it: apartments per thread, an in-process class table and
// IUnknown with the device's slot order.
#pragma once

#include <cstdint>

#include "platform/linux/kernel/wintypes.h"

#define STDMETHODCALLTYPE

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID CLSID;
typedef GUID IID;
typedef const GUID& REFGUID;
typedef const GUID& REFCLSID;
typedef const GUID& REFIID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

extern const IID IID_IUnknown;  // {00000000-0000-0000-C000-000000000046}

// The three slots every interface starts with, in this order.
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4

// S_OK the first time on a thread, S_FALSE for every nested call of the same model,
// RPC_E_CHANGED_MODE (not counted) for a call with the other threading model.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
// Ends one CoInitializeEx of this thread; does nothing on a thread that has none left.
void CoUninitialize();
// Creates an object of a class registered in this process. CO_E_NOTINITIALIZED before
// CoInitializeEx on this thread, REGDB_E_CLASSNOTREG for a class not served in process,
// CLASS_E_NOAGGREGATION with an outer object, E_NOINTERFACE when the object lacks `riid`.
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsctx, REFIID riid,
                         LPVOID* object);
