// The shell calls as a window sees them: registration rules, records through the message
// loop, release, fail points and reset.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/shell/notification_records.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

namespace fs = std::filesystem;

struct Seen {
  HWND window;
  WPARAM wParam;
  LONG kind;
  std::wstring item1;
  std::wstring item2;
  bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;

LRESULT CALLBACK folderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_FILECHANGEINFO) return DefWindowProcW(window, message, wParam, lParam);
  auto* notify = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
  const FILECHANGEINFO& info = notify->fci;
  seen.push_back({window, wParam, info.wEventId, reinterpret_cast<const WCHAR*>(info.dwItem1),
                  info.dwItem2 ? reinterpret_cast<const WCHAR*>(info.dwItem2) : L""});
  SHChangeNotifyFree(notify);
  return 0;
}

class ShellApi : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    seen.clear();
    WNDCLASSW wc{};
    wc.lpfnWndProc = folderProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ShellTestWindow";
    ASSERT_NE(RegisterClassW(&wc), 0);
    first = makeWindow();
    second = makeWindow();
  }

  HWND makeWindow() {
    return CreateWindowExW(0, L"ShellTestWindow", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }
  void folder(const char* relative) { fs::create_directories(ce::fsRoot() + "/" + relative); }
  void create(const std::string& relative) { std::ofstream(ce::fsRoot() + "/" + relative); }
  BOOL watch(HWND window, const wchar_t* path, DWORD mask = 7, BOOL recursive = FALSE) {
    std::wstring copy = path;
    SHCHANGENOTIFYENTRY entry{mask, copy.data(), recursive};
    return SHChangeNotifyRegister(window, &entry);
  }
  bool pumpUntil(size_t count) {
    return ce::test::waitFor([&] {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      return seen.size() >= count;
    });
  }

  HWND first = nullptr;
  HWND second = nullptr;
};

TEST_F(ShellApi, recordsReachTheWindowProcedureAndAreReleased) {
  folder("My Documents/Notes");
  folder("My Documents/Briefcase");
  ASSERT_TRUE(watch(first, L"\\My Documents\\Notes\\"));
  ASSERT_TRUE(watch(second, L"/My Documents/./Briefcase"));
  create("My Documents/Notes/memo.pwi");
  fs::rename(ce::fsRoot() + "/My Documents/Notes/memo.pwi",
             ce::fsRoot() + "/My Documents/Briefcase/memo.pwi");
  ASSERT_TRUE(pumpUntil(3));
  const std::wstring notes = L"\\My Documents\\Notes\\memo.pwi";
  const std::wstring briefcase = L"\\My Documents\\Briefcase\\memo.pwi";
  EXPECT_EQ(seen, (std::vector<Seen>{{first, 0, SHCNE_CREATE, notes, L""},
                                     {first, 0, SHCNE_RENAMEITEM, notes, briefcase},
                                     {second, 0, SHCNE_RENAMEITEM, notes, briefcase}}));
  EXPECT_EQ(ce::shell::liveRecordCount(), 0u);

  // A stray or second release is ignored rather than freeing what is not a live record.
  FILECHANGENOTIFY stray{};
  SHChangeNotifyFree(&stray);
  SHChangeNotifyFree(nullptr);
}

TEST_F(ShellApi, registrationRefusesWhatItCannotWatch) {
  folder("A");
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SHChangeNotifyRegister(first, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SHCHANGENOTIFYENTRY noPath{7, nullptr, FALSE};
  EXPECT_FALSE(SHChangeNotifyRegister(first, &noPath));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(watch(first, L"\\A", 7, TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(watch(reinterpret_cast<HWND>(0x12345), L"\\A"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(watch(first, L"\\Missing"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(watch(first, L"\\A\\..\\.."));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

  SetLastError(0xdeadbeef);
  EXPECT_FALSE(SHChangeNotifyDeregister(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(watch(first, L"\\A"));
  EXPECT_TRUE(SHChangeNotifyDeregister(first));
  EXPECT_FALSE(SHChangeNotifyDeregister(first));

  ce::testing::setFailPoint("SHChangeNotifyRegister", FALSE, ERROR_ACCESS_DENIED, 1);
  EXPECT_FALSE(watch(first, L"\\A"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(watch(first, L"\\A"));
  ce::testing::setFailPoint("SHChangeNotifyDeregister", FALSE, ERROR_GEN_FAILURE, 1);
  EXPECT_FALSE(SHChangeNotifyDeregister(first));
  EXPECT_TRUE(SHChangeNotifyDeregister(first));
}

TEST_F(ShellApi, aWaitingLoopWakesForAMoveOutOnItsOwn) {
  folder("A");
  folder("Elsewhere");
  create("A/f");
  ASSERT_TRUE(watch(first, L"\\A"));
  fs::rename(ce::fsRoot() + "/A/f", ce::fsRoot() + "/Elsewhere/f");
  // Should the loop not wake for the held first half, this unblocks it, and the test fails.
  std::thread watchdog([window = first] {
    std::this_thread::sleep_for(std::chrono::seconds(10));
    PostMessageW(window, WM_USER, 0, 0);
  });
  watchdog.detach();
  MSG message;
  ASSERT_GT(GetMessageW(&message, nullptr, 0, 0), 0);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_FILECHANGEINFO));
  DispatchMessageW(&message);
  EXPECT_EQ(seen, (std::vector<Seen>{{first, 0, SHCNE_DELETE, L"\\A\\f", L""}}));
}

TEST_F(ShellApi, resetForgetsRegistrationsAndFreesRecordsNobodyTook) {
  folder("A");
  ASSERT_TRUE(watch(first, L"\\A"));
  create("A/f");
  ASSERT_TRUE(ce::test::waitFor([] {
    MSG message;
    return PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) == TRUE;
  }));
  EXPECT_EQ(ce::shell::liveRecordCount(), 1u);
  ce::testing::reset();
  EXPECT_EQ(ce::shell::liveRecordCount(), 0u);
  EXPECT_FALSE(SHChangeNotifyDeregister(first));
}

}  // namespace
