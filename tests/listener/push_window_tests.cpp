#include <chrono>
#include <cstdint>
#include <memory>

#include "listener/push_window.h"
#include "listener/startup.h"
#include "tests/recording/listener_fixture.h"
#include "tests/support/test_window.h"

namespace {

using PushWindowTest = ce::test::ListenerTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) {
  return ClientPushWndProc(nullptr, message, wParam, lParam);
}

std::string flags(const ClientPush* clientPush) {
  std::string out;
  for (auto flag : clientPush->sourceFlags) out += flag ? '1' : '0';
  return out;
}

TEST_F(PushWindowTest, ControlCommandsFollowTheFlagTable) {
  EXPECT_EQ(send(WM_COMMAND, 3, 1), 0);
  EXPECT_EQ(flags(clientPush), "001000");
  send(WM_COMMAND, 7, 1);
  EXPECT_EQ(flags(clientPush), "001001");
  send(WM_COMMAND, 6, 1);    // belongs to no source
  send(WM_COMMAND, 100, 1);  // "all" only resumes
  send(WM_COMMAND, (WPARAM{1} << 32) | 1, 1);  // wider than the device's WPARAM: no flag
  EXPECT_EQ(flags(clientPush), "001001");
  send(WM_COMMAND, 3, 2);    // any lParam but 1 resumes
  EXPECT_EQ(flags(clientPush), "000001");
  for (unsigned flag : {1u, 2u, 4u, 5u}) send(WM_COMMAND, flag, 1);
  EXPECT_EQ(flags(clientPush), "110111");
  send(WM_COMMAND, 100, 0);
  EXPECT_EQ(flags(clientPush), "000000");
  auto entries = log();
  ASSERT_EQ(entries.size(), 11u);
  EXPECT_EQ(entries[0], "[INFO] - CP PIM WM_COMMAND setFlag 3");
  EXPECT_EQ(entries[5], "[INFO] - CP PIM WM_COMMAND resetFlag 3");
  EXPECT_EQ(entries[10], "[INFO] - CP PIM WM_COMMAND resetFlag 100");
}

TEST_F(PushWindowTest, RemoteNotificationsRecordUnlessSuspended) {
  EXPECT_EQ(send(PIM_ITEM_CHANGED_REMOTE, 77, 13), 0);
  EXPECT_EQ(list(), "8");
  send(WM_COMMAND, 3, 1);
  setValue("clientPushList", "0");
  at(2026, 3, 10, 11, 0);
  send(PIM_ITEM_CREATED_REMOTE, 78, 13);
  EXPECT_EQ(list(), "0");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:01"));
  send(WM_COMMAND, 3, 0);
  send(PIM_ITEM_DELETED_REMOTE, 79, 10);
  send(PIM_ITEM_DELETED_REMOTE, 80, 42);  // a folder nobody watches
  EXPECT_EQ(list(), "2");
  EXPECT_THAT(ce::test::entriesStartingWith(log(), {"CP: Item"}),
              ElementsAre("[DEBUG] - CP: Item is 77", "[DEBUG] - CP: Item is 78",
                          "[DEBUG] - CP: Item is 79", "[DEBUG] - CP: Item is 80"));
}

TEST_F(PushWindowTest, CloseSequenceRunsEveryStepInOrder) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  ASSERT_GE(createPushWindows(clientPush, instance), 0);
  ASSERT_NE(clientPush->pushWindow, nullptr);
  setValue("clientPushList", "6");
  EXPECT_EQ(SendMessageW(clientPush->pushWindow, WM_CLOSE, 0, 0), 0);

  EXPECT_THAT(log(), ElementsAre("[INFO] - CP: WM_CLOSE the application",
                                 "[ERROR] - Problem unregister listener folder notes",
                                 "[ERROR] - Problem unregister listener folder briefcase",
                                 "[ERROR] - Problem unregister listener folder picture",
                                 "[DEBUG] - Unregister class", "[DEBUG] - End dialog",
                                 "[DEBUG] - Destroy wnd"));
  EXPECT_EQ(list(), "6");  // the close keeps every recorded change
  EXPECT_FALSE(IsWindow(clientPush->pushWindow));
  // The classes were unregistered while their windows lived, which the device refuses: the
  // push class is still there, so the start-up's clean-up after the loop is what removes it.
  WNDCLASS again = clientPush->pushClass;
  EXPECT_EQ(RegisterClassW(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  EXPECT_TRUE(UnregisterClassW(L"ClientPushWindow", instance));
  MSG message;
  bool quit = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    if (message.message == WM_QUIT) quit = message.wParam == 0;
  EXPECT_TRUE(quit);
}

TEST_F(PushWindowTest, ClassAlreadyRegisteredSkipsOnlyThatWindow) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASS first{}, second{};
  HWND window = nullptr, again = nullptr;
  const wchar_t* name = L"ClientPushWindow";
  EXPECT_EQ(registerPushWindow(&first, ClientPushWndProc, name, instance, &window), 0);
  EXPECT_NE(window, nullptr);
  EXPECT_EQ(registerPushWindow(&second, ClientPushWndProc, name, instance, &again), 1);
  EXPECT_EQ(again, nullptr);
  EXPECT_THAT(log(), ElementsAre("[ERROR] - Failed to registed class. Error = 0x582"));

  ce::testing::setFailPoint("RegisterClassW", 0, ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(registerPushWindow(&second, ClientPushWndProc, L"Other", instance, &again), -1);
}

// Logon is given the window as a long, and the handle must come back from it whole: a real
// window of ours (its process id in the high bits, which a 32-bit long would lose) and a
// handle value as Windows makes them (32 bits, sign-extended).
TEST_F(PushWindowTest, TheWindowGivenToLogonComesBackWhole) {
  auto back = [](HWND window) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(logonWindowValue(window)));
  };
  HWND window = ce::test::makeWindow(L"LogonTestWindow", DefWindowProcW);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(back(window), window);
  const auto signExtended = reinterpret_cast<HWND>(static_cast<intptr_t>(INT32_MIN + 0x1234));
  EXPECT_EQ(back(signExtended), signExtended);
}

// The close releases what the start-up subscribed through.
TEST_F(PushWindowTest, SubscribedApplicationIsReleasedOnce) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  IPOutlookApp2* app = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER, IID_IPOutlookApp2,
                             reinterpret_cast<LPVOID*>(&app)),
            S_OK);
  ASSERT_EQ(app->Logon(0x12345), S_OK);
  EXPECT_EQ(subscribePimFolder(app, 99, 1), E_INVALIDARG);  // no such folder
  clientPush->outlookApp = app;
  EXPECT_EQ(releasePoom(clientPush), S_OK);
  EXPECT_EQ(clientPush->outlookApp, nullptr);
  EXPECT_EQ(releasePoom(clientPush), E_FAIL);
}

// A change the registry refused goes out on the loop's own timer, with no other message to
// carry it: the test's window only watches the list, starts a second refusal once the first
// change is out (the timer must be set again for it), and ends the loop.
ClientPush* watched = nullptr;
std::chrono::steady_clock::time_point giveUpAt;
bool secondRefusalSent = false;

LRESULT CALLBACK quitWhenRecorded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_TIMER) return DefWindowProcW(window, message, wParam, lParam);
  std::unique_ptr<char[]> list(watched->node->readValue("clientPushList"));
  if (std::string(list.get()) == "2" && !secondRefusalSent) {
    secondRefusalSent = true;
    ce::testing::setFailPoint("runInTransaction", ERROR_BUSY, ERROR_BUSY, 1);
    send(PIM_ITEM_CHANGED_REMOTE, 78, 9);
  }
  if (std::string(list.get()) == "6" || std::chrono::steady_clock::now() > giveUpAt)
    PostQuitMessage(0);
  return 0;
}

TEST_F(PushWindowTest, LoopWritesARefusedChangeOnItsOwnTimer) {
  ce::testing::setFailPoint("runInTransaction", ERROR_BUSY, ERROR_BUSY, 1);
  send(PIM_ITEM_CHANGED_REMOTE, 77, 10);
  ASSERT_EQ(list(), "");
  HWND window = ce::test::makeWindow(L"QuitWhenRecorded", quitWhenRecorded);
  watched = clientPush;
  giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  secondRefusalSent = false;
  ASSERT_NE(SetTimer(window, 1, 5, nullptr), 0u);
  runMessageLoop(clientPush, 20);
  EXPECT_TRUE(secondRefusalSent);
  EXPECT_EQ(list(), "6");
  EXPECT_EQ(requests(), launcherOnlyAt("2026-03-10 10:01"));
}

}  // namespace
