// What the device tool and sibling platform families need to know about windows beyond the
// Win32 calls. Not a device API.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/kernel/wintypes.h"

namespace ce {

struct WindowInfo {
  HWND hwnd;
  int pid;
  std::wstring className;
  std::wstring title;
};

// Live windows of every process of the device, oldest first.
std::vector<WindowInfo> listWindows();

// True when messages from other processes can reach process `pid` (its socket in run/ is
// there and bound).
bool processReachable(int pid);

// True for a live window created by this process.
bool isWindowOfThisProcess(HWND window);

// Removes from run/ the sockets and window files of processes that died (killed, crashed),
// whoever has their pid now. What live processes hold is never touched.
void removeLeftoversOfDeadProcesses();

}  // namespace ce
