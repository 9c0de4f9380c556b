// The application object of the PIM object model, its default folders and their IItem.
//
// The class is registered with COM from this file, and the GUIDs are defined here too: a
// program that names CLSID_Application links this file and with it the registration, while
// a program that never names it carries none of the store. (A registration in a file nobody
// references would be dropped by the linker from the static library.)
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/linux/com/class_table.h"
#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/poom/poom.h"
#include "platform/linux/poom/store.h"
#include "platform/linux/process.h"

const CLSID CLSID_Application = {0x05058F23, 0x20BE, 0x11D2,
                                 {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IPOutlookApp2 = {0xAF7D0DC7, 0x3D35, 0x424B,
                               {0xAA, 0x60, 0x27, 0xA3, 0x8B, 0x8B, 0x62, 0x9E}};
const IID IID_IFolder = {0x05058F22, 0x20BE, 0x11D2,
                         {0x8F, 0x18, 0x00, 0x00, 0xF8, 0x7A, 0x43, 0x35}};
const IID IID_IItem = {0xFB8998D0, 0x38F0, 0x4D12,
                       {0xAC, 0x56, 0x4E, 0xC8, 0xFC, 0xE9, 0xF3, 0xD5}};

namespace {

bool failPoint(const char* function, HRESULT& result) {
  long long forced;
  if (!ce::failPointHit(function, forced)) return false;
  result = static_cast<HRESULT>(forced);
  return true;
}

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
      if (store_) Logoff();
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE Logon(long hWnd) override {
    HRESULT forced;
    if (failPoint("Logon", forced)) return forced;
    if (store_) return E_FAIL;  // already logged on: Logoff first
    std::string error;
    std::unique_ptr<ce::poom::Store> store;
    try {
      store = ce::poom::Store::open(ce::systemDir() + "/pim.db", error);
    } catch (const std::exception& e) {
      store = nullptr;  // the device home cannot be made
      error = e.what();
    }
    if (!store) {
      // The listener logs nothing of its own here; whoever reads its output learns why.
      std::fprintf(stderr, "poom: cannot log on: %s\n", error.c_str());
      SetLastError(ERROR_BADDB);
      return E_FAIL;
    }
    store_ = std::move(store);
    window_ = hWnd;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Logoff() override {
    if (!store_) return E_FAIL;
    ce::pim::Result ended = store_->endSubscriptions({window_});
    store_.reset();
    window_ = 0;
    return ended ? S_OK : E_FAIL;
  }

  HRESULT STDMETHODCALLTYPE GetDefaultFolder(int olFolder, IFolder** folder) override;

  // SetProps of a folder's IItem ends here.
  HRESULT subscribe(int folder, DWORD mode) {
    if (!store_) return E_FAIL;
    if (window_ == 0) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    auto self = ce::ProcessIdentity::of(static_cast<int>(getpid()));
    return store_->subscribe(window_, folder, mode, static_cast<int>(getpid()),
                             self ? self->startTime : 0)
               ? S_OK
               : E_FAIL;
  }

 private:
  ~Application() = default;

  std::atomic<ULONG> references_{1};
  std::unique_ptr<ce::poom::Store> store_;  // set while logged on
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
    HRESULT forced;
    if (failPoint("SetProps", forced)) return forced;
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
  HRESULT forced;
  if (failPoint("GetDefaultFolder", forced)) return forced;
  if (!ce::poom::isPimFolder(olFolder)) return E_INVALIDARG;
  if (!store_) return E_FAIL;
  *folder = new Folder(this, olFolder);
  return S_OK;
}

HRESULT createApplication(REFIID riid, void** object) {
  auto* application = new Application;
  HRESULT result = application->QueryInterface(riid, object);
  application->Release();
  return result;
}

const struct Registration {
  Registration() { ce::com::registerClass(CLSID_Application, &createApplication); }
} registration;

}  // namespace
