// The listener's single state object.
#pragma once

#include <cstdint>
#include <string>

#include "recording/data_sources.h"
#include "platform/windows.h"

class DMTree;
class ManagementNode;

// What a change left undone because a store refused it: kept in memory and retried until the
// store takes it, so that no change is dropped.
struct UnrecordedChanges {
  enum class SyncRequest { none, toSchedule, toRepeat };

  int32_t bits = 0;  // not yet in "clientPushList"
  // toSchedule: ask for a start once the bits are written; toRepeat: ask again for
  // nextSyncTime, which the platform refused.
  SyncRequest syncRequest = SyncRequest::none;
  // One ERROR line per streak of failures, not one per retry.
  bool listFailureLogged = false;
  bool requestFailureLogged = false;

  bool any() const { return bits != 0 || syncRequest != SyncRequest::none; }
};

class ClientPush {
 public:
  // The one object of the process, created with its initial values on first use.
  static ClientPush* getInstance();

  // Suspend (set) or resume (reset) the recording of one source by its flag number;
  // resetFlag(100) resumes all, any other number outside the table is ignored.
  void setFlag(unsigned flagNumber);
  void resetFlag(unsigned flagNumber);

  HWND pushWindow = nullptr;
  HWND notesWindow = nullptr;
  HWND briefcaseWindow = nullptr;
  HWND pictureWindow = nullptr;
  WNDCLASS pushClass{};
  WNDCLASS notesClass{};
  WNDCLASS briefcaseClass{};
  WNDCLASS pictureClass{};
  IPOutlookApp2* outlookApp = nullptr;  // one reference owned while set
  DMTree* dmt = nullptr;                // never released
  ManagementNode* node = nullptr;       // never released
  std::wstring launcherPath;
  int32_t pushInterval = 1;
  SYSTEMTIME lastChangeTime{};
  SYSTEMTIME nextSyncTime{};
  unsigned char sourceFlags[dataSourceCount] = {};
  UnrecordedChanges unrecorded;

 private:
  ClientPush() = default;
  static ClientPush* instance;
};

// Logs off from POOM, releases the application object and uninitialises COM. Returns the
// result of Logoff, or E_FAIL when there was no application object.
HRESULT releasePoom(ClientPush* clientPush);
