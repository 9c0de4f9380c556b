// Helpers shared by the PIM tests: COM initialised for the whole test, the application, a
// default folder's IItem and the notification property.
#pragma once

#include "platform/pimstore.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/support/device_test.h"
#include "tests/support/test_window.h"

namespace ce::test {

class PoomTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    DeviceTest::TearDown();
  }
};

// A new application object; null when it could not be made.
inline IPOutlookApp2* createApplication() {
  void* object = nullptr;
  HRESULT result = CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IPOutlookApp2, &object);
  return SUCCEEDED(result) ? static_cast<IPOutlookApp2*>(object) : nullptr;
}

// The IItem of a default folder, which the caller releases; null when a step failed.
inline IItem* folderItem(IPOutlookApp2* app, int folderId) {
  IFolder* folder = nullptr;
  IItem* item = nullptr;
  if (SUCCEEDED(app->GetDefaultFolder(folderId, &folder)))
    folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item));
  if (folder) folder->Release();
  return item;
}

inline CEPROPVAL notificationsProp(ULONG mode) {
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = mode;
  return value;
}

// The listener's own sequence, minus the error paths; null when any step failed.
inline IPOutlookApp2* logOnAndSubscribe(HWND window, int folderId, ULONG mode) {
  IPOutlookApp2* app = createApplication();
  if (!app) return nullptr;
  IItem* item = SUCCEEDED(app->Logon(reinterpret_cast<long>(window))) ? folderItem(app, folderId)
                                                                      : nullptr;
  CEPROPVAL value = notificationsProp(mode);
  bool ok = item && item->SetProps(0, 1, &value) == S_OK;
  if (item) item->Release();
  if (!ok) app->Release();
  return ok ? app : nullptr;
}

}  // namespace ce::test
