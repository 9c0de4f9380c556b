// The PIM object model as the device declares it, as far as the listener uses it: the
// application object, default folders, folder change notifications and the messages that
// carry them.
//
// Create the application with CoCreateInstance(CLSID_Application, NULL, CLSCTX_INPROC_SERVER,
// IID_IPOutlookApp2, ...), Logon with the window that is to receive the notifications, take
// a default folder, query it for IItem and set PIMPR_FOLDERNOTIFICATIONS on that.
//
// Desktop Windows has none of this; each side of platform/ implements it. Included through
// platform/windows.h, after the side's own Win32 and COM types.
#pragma once

// {05058F23-20BE-11D2-8F18-0000F87A4335}
extern const CLSID CLSID_Application;
// {AF7D0DC7-3D35-424B-AA60-27A38B8B629E}
extern const IID IID_IPOutlookApp2;
// {05058F22-20BE-11D2-8F18-0000F87A4335}
extern const IID IID_IFolder;
// {FB8998D0-38F0-4D12-AC56-4EC8FCE9F3D5}
extern const IID IID_IItem;

enum OlDefaultFolders {
  olFolderCalendar = 9,
  olFolderContacts = 10,
  olFolderTasks = 13,
};

// Sent to the window given to Logon: wParam = the item's object id, lParam = its folder id.
#define PIM_ITEM_CREATED_LOCAL 0x8100
#define PIM_ITEM_DELETED_LOCAL 0x8101
#define PIM_ITEM_CHANGED_LOCAL 0x8102
#define PIM_ITEM_CREATED_REMOTE 0x8105
#define PIM_ITEM_DELETED_REMOTE 0x8106
#define PIM_ITEM_CHANGED_REMOTE 0x8107

// Values of PIMPR_FOLDERNOTIFICATIONS: which changes a folder reports to the logon window.
#define PIMFOLDERNOTIFICATION_REMOTE 0x1  // changes made by other processes
#define PIMFOLDERNOTIFICATION_LOCAL 0x2   // changes made by this process
#define PIMFOLDERNOTIFICATION_ALL (PIMFOLDERNOTIFICATION_REMOTE | PIMFOLDERNOTIFICATION_LOCAL)

typedef DWORD CEPROPID;
typedef CEPROPID* PCEPROPID;

// Value types: the low word of a property id.
#define CEVT_I2 2
#define CEVT_I4 3
#define CEVT_R8 5
#define CEVT_BOOL 11
#define CEVT_UI2 18
#define CEVT_UI4 19
#define CEVT_LPWSTR 31
#define CEVT_FILETIME 64
#define CEVT_BLOB 65
#define TypeFromPropID(propid) ((WORD)((propid) & 0xFFFF))

// Property id 0x1001 of type CEVT_UI4 in the high and low words.
#define PIMPR_FOLDERNOTIFICATIONS 0x10010013

struct CEBLOB {
  DWORD dwCount;
  LPBYTE lpb;
};

union CEVALUNION {
  short iVal;
  WORD uiVal;
  LONG lVal;
  ULONG ulVal;
  FILETIME filetime;
  LPWSTR lpwstr;
  CEBLOB blob;
  BOOL boolVal;
  double dblVal;
};

struct CEPROPVAL {
  CEPROPID propid;
  WORD wLenData;
  WORD wFlags;
  CEVALUNION val;
};

// A folder's own properties, reached through QueryInterface(IID_IItem) on the folder.
struct IItem : IUnknown {
  // Sets `count` properties at once: all are checked before any takes effect.
  // E_INVALIDARG for an unknown property, a wrong type or a value out of range.
  virtual HRESULT STDMETHODCALLTYPE SetProps(ULONG flags, WORD count, CEPROPVAL* values) = 0;
};

// One of the default folders; QueryInterface(IID_IItem) gives the folder's properties.
struct IFolder : IUnknown {};

struct IPOutlookApp2 : IUnknown {
  // Opens the store for this object. `hWnd` is the window that will receive the folder
  // notifications this object subscribes to (the device passes it as a long; a window
  // handle fits in a long here). E_FAIL when the store cannot be opened; then nothing in it
  // has been changed.
  virtual HRESULT STDMETHODCALLTYPE Logon(long hWnd) = 0;
  // Ends the notifications subscribed through this object and closes the store.
  virtual HRESULT STDMETHODCALLTYPE Logoff() = 0;
  // E_INVALIDARG for a folder other than olFolderCalendar, olFolderContacts, olFolderTasks.
  virtual HRESULT STDMETHODCALLTYPE GetDefaultFolder(int olFolder, IFolder** folder) = 0;
};
