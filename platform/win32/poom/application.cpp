// The application object of the PIM object model on Windows, its default folders and their
// IItem, served in process by COM.
//
// How the class is served: the device registers its PIM store as an in-process server; here
// the class object is registered with CoRegisterClassObject when the program starts (a static
// object of this file), so that the listener's own CoCreateInstance(CLSID_Application, ...,
// CLSCTX_INPROC_SERVER) finds it without any registry entry or DLL to install. A class object
// belongs to an apartment: it is registered in the process's multithreaded apartment, which
// CoIncrementMTAUsage creates and keeps for the whole run without putting the starting thread
// in it, so the program still chooses its own threads' apartments; the listener initialises
// COM multithreaded and so finds the class. (A single-threaded apartment does not see it:
// CoCreateInstance there fails with REGDB_E_CLASSNOTREG.) The GUIDs are defined here too: a
// program that names CLSID_Application links this file and with it the registration, while a
// program that never names it carries none of it.
#include <atomic>
#include <cstdio>

#include "platform/win32/poom/notifications.h"
#include "platform/win32/poom/store.h"

const CLSID CLSID_Application = {0x05058F23, 0x20BE, 0x11D2,
                                 {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IPOutlookApp2 = {0xAF7D0DC7, 0x3D35, 0x424B,
                               {0xAA, 0x60, 0x27, 0xA3, 0x8B, 0x8B, 0x62, 0x9E}};
const IID IID_IFolder = {0x05058F22, 0x20BE, 0x11D2,
                         {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IItem = {0xFB8998D0, 0x38F0, 0x4D12,
                       {0xAC, 0x56, 0x4E, 0xC8, 0xFC, 0xE9, 0xF3, 0xD5}};

namespace {

class Application final : public IPOutlookApp2 {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPOutlookApp2)) {
      AddRef();
      *object = static_cast<IPOutlookApp2*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    // An object that goes away cannot keep its window subscribed.
    if (left == 0) {
      if (loggedOn_) Logoff();
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE Logon(long hWnd) override {
    if (loggedOn_) return E_FAIL;  // already logged on: Logoff first
    if (ce::pim::Result opened = ce::poom::openStore(); !opened) {
      // The listener logs nothing of its own here; whoever reads its output learns why.
      std::fprintf(stderr, "poom: cannot log on: %s\n", opened.message.c_str());
      SetLastError(ERROR_BADDB);
      return E_FAIL;
    }
    loggedOn_ = true;
    window_ = hWnd;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Logoff() override {
    if (!loggedOn_) return E_FAIL;
    ce::pim::Result ended = ce::poom::endSubscriptions({window_});
    loggedOn_ = false;
    window_ = 0;
    return ended ? S_OK : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultFolder(int olFolder, IFolder** folder) override;

  // SetProps of a folder's IItem ends here.
  HRESULT subscribe(int folder, DWORD mode) {
    if (!loggedOn_) return E_FAIL;
    if (window_ == 0) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    int self = static_cast<int>(GetCurrentProcessId());
    // The window was given as a long: sign-extended back, as Windows' handle values are.
    return ce::poom::subscribe(static_cast<long long>(window_), folder, mode, self,
                               ce::poom::processStarted(self))
               ? S_OK
               : E_FAIL;
  }

 private:
  ~Application() = default;

  std::atomic<ULONG> references_{1};
  bool loggedOn_ = false;
  long window_ = 0;
};

// A default folder; its IItem is the same object, so both share one identity and count.
class Folder final : public IFolder, public IItem {
 public:
  Folder(Application* application, int id) : application_(application), id_(id) {
    application_->AddRef();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IFolder)) {
      *object = static_cast<IFolder*>(this);
    } else if (IsEqualGUID(riid, IID_IItem)) {
      *object = static_cast<IItem*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE SetProps(ULONG, WORD count, CEPROPVAL* values) override {
    if (count > 0 && values == nullptr) return E_INVALIDARG;
    // Check every value before any takes effect.
    for (WORD i = 0; i < count; ++i) {
      if (values[i].propid != PIMPR_FOLDERNOTIFICATIONS) return E_INVALIDARG;
      if ((values[i].val.ulVal & ~static_cast<ULONG>(PIMFOLDERNOTIFICATION_ALL)) != 0)
        return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    for (WORD i = 0; i < count && SUCCEEDED(result); ++i)
      result = application_->subscribe(id_, values[i].val.ulVal);
    return result;
  }

 private:
  ~Folder() { application_->Release(); }

  std::atomic<ULONG> references_{1};
  Application* application_;  // one reference held
  int id_;
};

HRESULT Application::GetDefaultFolder(int olFolder, IFolder** folder) {
  if (folder == nullptr) return E_POINTER;
  *folder = nullptr;
  if (!ce::poom::isPimFolder(olFolder)) return E_INVALIDARG;
  if (!loggedOn_) return E_FAIL;
  *folder = new Folder(this, olFolder);
  return S_OK;
}

// The class object: one for the process, never freed.
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* application = new Application;
    HRESULT result = application->QueryInterface(riid, object);
    application->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

const struct Registration {
  Registration() {
    CO_MTA_USAGE_COOKIE apartment = nullptr;
    DWORD cookie = 0;
    HRESULT result = CoIncrementMTAUsage(&apartment);
    if (SUCCEEDED(result))
      result = CoRegisterClassObject(CLSID_Application, &factory, CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie);
    // Then CoCreateInstance fails with REGDB_E_CLASSNOTREG, and the listener says it could
    // not start; this line says why.
    if (FAILED(result))
      std::fprintf(stderr, "poom: cannot serve the PIM application object: 0x%08lx\n",
                   static_cast<unsigned long>(result));
  }
} registration;

}  // namespace
