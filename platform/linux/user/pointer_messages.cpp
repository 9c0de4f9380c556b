#include "platform/linux/user/pointer_messages.h"

#include <algorithm>
#include <iterator>

namespace ce::user {

namespace {

// Sorted. The system messages of the device whose parameter is an address, whether or not
// anything here reads it yet: a window procedure written for the device may, and a message
// that the device would never deliver across processes must not arrive here either.
constexpr UINT kPointerMessages[] = {
    0x0001,  // WM_CREATE: CREATESTRUCTW*
    0x000C,  // WM_SETTEXT: text
    0x000D,  // WM_GETTEXT: buffer to write
    0x001A,  // WM_SETTINGCHANGE: section name
    0x001B,  // WM_DEVMODECHANGE: device name
    0x0024,  // WM_GETMINMAXINFO: MINMAXINFO*
    0x002B,  // WM_DRAWITEM: DRAWITEMSTRUCT*
    0x002C,  // WM_MEASUREITEM: MEASUREITEMSTRUCT*
    0x002D,  // WM_DELETEITEM: DELETEITEMSTRUCT*
    0x0039,  // WM_COMPAREITEM: COMPAREITEMSTRUCT*
    0x0046,  // WM_WINDOWPOSCHANGING: WINDOWPOS*
    0x0047,  // WM_WINDOWPOSCHANGED: WINDOWPOS*
    0x004A,  // WM_COPYDATA: COPYDATASTRUCT*
    0x004E,  // WM_NOTIFY: NMHDR*
    0x0053,  // WM_HELP: HELPINFO*
    0x007C,  // WM_STYLECHANGING: STYLESTRUCT*
    0x007D,  // WM_STYLECHANGED: STYLESTRUCT*
    0x0081,  // WM_NCCREATE: CREATESTRUCTW*
    0x0083,  // WM_NCCALCSIZE: NCCALCSIZE_PARAMS*
    0x0087,  // WM_GETDLGCODE: MSG*
    0x0113,  // WM_TIMER: lParam is the procedure that DispatchMessageW calls
    0x0214,  // WM_SIZING: RECT*
    0x0216,  // WM_MOVING: RECT*
    // WM_FILECHANGEINFO (WM_APP + 0x101): the shell's FILECHANGENOTIFY*. The same number is
    // PIM_ITEM_DELETED_LOCAL, which by its meaning only ever comes from the receiving process.
    0x8101,
};

static_assert(std::is_sorted(std::begin(kPointerMessages), std::end(kPointerMessages)));

}  // namespace

bool carriesPointer(UINT message) {
  return std::binary_search(std::begin(kPointerMessages), std::end(kPointerMessages), message);
}

}  // namespace ce::user
