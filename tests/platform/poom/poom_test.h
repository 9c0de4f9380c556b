// Helpers shared by the PIM tests: COM initialised for the whole test, the application, a
// default folder's IItem, the notification property and a child process of the device.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "platform/pimstore.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

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

// Runs `body` in a child process of the device and waits; its exit code (128 + signal).
template <typename Body>
int exitCodeInChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace ce::test
