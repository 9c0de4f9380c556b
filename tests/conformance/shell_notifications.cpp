// Folder notifications: what a window registered with SHChangeNotifyRegister receives for a
// fixed sequence of file operations (create, rename, delete, a temporary name renamed to its
// final one, moves in and out, the folder removed and back, a folder above it moved away and
// back), the checks of the registration itself, and deregistration with records in flight.
// Both sides are ours (desktop Windows has no SHChangeNotifyRegister of the device's kind):
// the Linux emulation on inotify and the Windows-side library on ReadDirectoryChangesW judge
// each other.
//
// Each step ends with a cookie: a file "sync-N" made in the watched folder, whose own record
// says that every record of the step before it has come. A step that waits for a record
// waits for it with a deadline, on a timer that keeps GetMessageW from sleeping past it.
#include <chrono>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/windows.h"

using conformance::answer;
using conformance::answerText;
using conformance::freshError;

namespace {

const WCHAR* const kClass = L"ConformanceShellWindow";
const WCHAR* const kRoot = L"\\conf_sh";
const WCHAR* const kWatched = L"\\conf_sh\\w";
const WCHAR* const kOther = L"\\conf_sh\\other";

struct Received {
  std::vector<std::string> records;  // "kind path[ -> new path]"
  bool hold = false;                 // keep the records instead of freeing them
  std::vector<FILECHANGENOTIFY*> held;
};

Received wide, narrow;  // the two windows' records
HWND wideWindow, narrowWindow;

const char* kindName(LONG kind) {
  switch (kind) {
    case SHCNE_CREATE: return "create";
    case SHCNE_DELETE: return "delete";
    case SHCNE_MKDIR: return "mkdir";
    case SHCNE_RMDIR: return "rmdir";
    case SHCNE_RENAMEITEM: return "rename";
    case SHCNE_RENAMEFOLDER: return "renamefolder";
    case SHCNE_UPDATEDIR: return "updatedir";
    case SHCNE_UPDATEITEM: return "updateitem";
    default: return "other";
  }
}

std::string describe(const FILECHANGENOTIFY* record) {
  const FILECHANGEINFO& info = record->fci;
  std::string line = kindName(info.wEventId);
  line += " " + conformance::text(reinterpret_cast<const WCHAR*>(info.dwItem1));
  if (info.dwItem2) line += " -> " + conformance::text(reinterpret_cast<const WCHAR*>(info.dwItem2));
  if (info.cbSize != sizeof(FILECHANGEINFO) || info.uFlags != 0 || record->dwRefCount != 1)
    line += " (malformed)";
  return line;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_FILECHANGEINFO) {
    Received& to = window == wideWindow ? wide : narrow;
    auto* record = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
    to.records.push_back(describe(record));
    if (to.hold)
      to.held.push_back(record);
    else
      SHChangeNotifyFree(record);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// Dispatches messages until `done` says so or five seconds pass; false then.
template <typename Done>
bool pumpUntil(Done done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  SetTimer(wideWindow, 1, 20, nullptr);
  bool met = done();
  while (!met && std::chrono::steady_clock::now() < deadline) {
    MSG message;
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    DispatchMessageW(&message);
    met = done();
  }
  KillTimer(wideWindow, 1);
  return met;
}

bool has(const Received& to, const std::string& record) {
  for (const std::string& line : to.records)
    if (line == record) return true;
  return false;
}

int cookies = 0;

// Makes the next cookie and waits for its record at the windows that see creations; returns
// the windows' records before it, joined, and forgets them.
std::string step(Received& to) {
  std::wstring name = L"sync-" + std::to_wstring(++cookies);
  std::wstring path = std::wstring(kWatched) + L"\\" + name;
  conformance::writeBytes(path.c_str(), "");
  std::string cookie = "create " + conformance::text(path.c_str());
  if (!pumpUntil([&] { return has(to, cookie) && (&to != &wide || has(narrow, cookie)); }))
    return "no cookie within five seconds: " + [&] {
      std::string seen;
      for (const std::string& line : to.records) seen += line + "; ";
      return seen;
    }();
  std::string out;
  for (const std::string& line : to.records) {
    if (line == cookie) break;
    out += (out.empty() ? "" : "; ") + line;
  }
  wide.records.clear();
  narrow.records.clear();
  return out.empty() ? "(none)" : out;
}

// Waits for one record at both windows; "yes" or what came instead.
std::string waitFor(const std::string& record) {
  if (pumpUntil([&] { return has(wide, record) && has(narrow, record); })) {
    std::string out = "yes";
    for (const std::string& line : wide.records)
      if (line != record) out += ", and " + line;
    wide.records.clear();
    narrow.records.clear();
    return out;
  }
  std::string seen;
  for (const std::string& line : wide.records) seen += line + "; ";
  wide.records.clear();
  narrow.records.clear();
  return "no, only: " + (seen.empty() ? std::string("(none)") : seen);
}

std::wstring in(const WCHAR* folder, const WCHAR* name) {
  return std::wstring(folder) + L"\\" + name;
}

#ifdef _WIN32
bool move(const std::wstring& from, const std::wstring& to) {
  return MoveFileW(from.c_str(), to.c_str()) != 0;
}
bool removeFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }
bool removeFolder(const std::wstring& path) { return RemoveDirectoryW(path.c_str()) != 0; }
#else
bool move(const std::wstring& from, const std::wstring& to) {
  std::error_code error;
  std::filesystem::rename(conformance::hostPath(from.c_str()), conformance::hostPath(to.c_str()),
                          error);
  return !error;
}
bool removeFile(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::remove(conformance::hostPath(path.c_str()), error);
}
bool removeFolder(const std::wstring& path) { return removeFile(path); }
#endif

std::string registerWith(HWND window, const WCHAR* folder, DWORD mask, BOOL recursive = FALSE) {
  std::wstring path = folder;
  SHCHANGENOTIFYENTRY entry{mask, path.data(), recursive};
  return freshError([&] { return SHChangeNotifyRegister(window, &entry); });
}

void registration(HINSTANCE instance) {
  answerText("register missing folder", registerWith(wideWindow, L"\\conf_sh\\missing", SHCNE_ALLEVENTS));
  conformance::writeBytes(in(kRoot, L"file.txt").c_str(), "x");
  answerText("register a file", registerWith(wideWindow, L"\\conf_sh\\file.txt", SHCNE_ALLEVENTS));
  answerText("register recursive", registerWith(wideWindow, kWatched, SHCNE_ALLEVENTS, TRUE));
  answerText("register null entry",
             freshError([&] { return SHChangeNotifyRegister(wideWindow, nullptr); }));
  answerText("register junk window",
             registerWith(reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x1234)), kWatched,
                          SHCNE_ALLEVENTS));
  answerText("deregister unregistered window",
             freshError([&] { return SHChangeNotifyDeregister(wideWindow); }));
  // The first registration is replaced by the second: records name the watched folder.
  answerText("register other folder", registerWith(wideWindow, kOther, SHCNE_ALLEVENTS));
  // A folder there before the registration: its removal is told as a folder's, not a file's.
  conformance::makeFolder(in(kWatched, L"old").c_str());
  answerText("register watched folder", registerWith(wideWindow, kWatched, SHCNE_ALLEVENTS));
  answerText("register narrow window",
             registerWith(narrowWindow, kWatched, SHCNE_CREATE | SHCNE_RMDIR));
  (void)instance;
}

void operations() {
  conformance::writeBytes(in(kWatched, L"a.txt").c_str(), "a");
  answerText("create a file", step(wide));
  conformance::makeFolder(in(kWatched, L"sub").c_str());
  answerText("create a folder", step(wide));
  move(in(kWatched, L"a.txt"), in(kWatched, L"b.txt"));
  answerText("rename a file", step(wide));
  move(in(kWatched, L"sub"), in(kWatched, L"sub2"));
  answerText("rename a folder", step(wide));
  conformance::writeBytes(in(kWatched, L"note.tmp").c_str(), "n");
  move(in(kWatched, L"note.tmp"), in(kWatched, L"note.pwi"));
  answerText("temporary name to final", step(wide));
  removeFile(in(kWatched, L"b.txt"));
  answerText("delete a file", step(wide));
  removeFolder(in(kWatched, L"sub2"));
  answerText("delete a folder", step(wide));
  removeFolder(in(kWatched, L"old"));
  answerText("delete a folder older than the registration", step(wide));
  conformance::writeBytes(in(kOther, L"in.txt").c_str(), "i");
  move(in(kOther, L"in.txt"), in(kWatched, L"in.txt"));
  answerText("move a file in", step(wide));
  move(in(kWatched, L"in.txt"), in(kOther, L"out.txt"));
  answerText("move a file out", step(wide));
  conformance::writeBytes(in(kWatched, L"c.txt").c_str(), "c");
  removeFile(in(kWatched, L"note.pwi"));
  answerText("narrow window sees creations only", step(narrow));
}

void folderGoneAndBack() {
  // Emptied first, and synchronised, so that the folder's own end is all the next step says.
  conformance::removeTree(in(kWatched, L"c.txt"));
  for (int i = 1; i <= cookies; ++i)
    removeFile(std::wstring(kWatched) + L"\\sync-" + std::to_wstring(i));
  step(wide);
  for (int i = 1; i <= cookies; ++i)
    removeFile(std::wstring(kWatched) + L"\\sync-" + std::to_wstring(i));
  pumpUntil([] { return has(wide, "delete \\u005Cconf_sh\\u005Cw\\u005Csync-" + std::to_string(cookies)); });
  wide.records.clear();
  narrow.records.clear();
  std::string folder = conformance::text(kWatched);
  answer("remove the watched folder", "%d", removeFolder(kWatched));
  answerText("rmdir of the watched folder", waitFor("rmdir " + folder));
  answer("make it again", "%d", conformance::makeFolder(kWatched));
  answerText("mkdir of the watched folder", waitFor("mkdir " + folder));
  conformance::writeBytes(in(kWatched, L"back.txt").c_str(), "b");
  answerText("create in the folder made again", step(wide));

  answer("move the folder above away", "%d", move(kRoot, L"\\conf_sh_moved"));
  answerText("rmdir when the folder above moves", waitFor("rmdir " + folder));
  answer("move the folder above back", "%d", move(L"\\conf_sh_moved", kRoot));
  answerText("mkdir when the folder above is back", waitFor("mkdir " + folder));
  conformance::writeBytes(in(kWatched, L"again.txt").c_str(), "b");
  answerText("create after the folder above is back", step(wide));
}

void recordsInFlight() {
  wide.hold = true;
  conformance::writeBytes(in(kWatched, L"flight.txt").c_str(), "f");
  std::string expected = "create " + conformance::text(in(kWatched, L"flight.txt").c_str());
  // Posted, not yet dispatched: the record waits in the queue while only timer ticks are
  // taken.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  SetTimer(wideWindow, 1, 20, nullptr);
  bool queued = false;
  while (!queued && std::chrono::steady_clock::now() < deadline) {
    MSG message;
    queued = PeekMessageW(&message, wideWindow, WM_FILECHANGEINFO, WM_FILECHANGEINFO,
                          PM_NOREMOVE) != FALSE;
    if (!queued && GetMessageW(&message, nullptr, WM_TIMER, WM_TIMER) > 0)
      DispatchMessageW(&message);
  }
  KillTimer(wideWindow, 1);
  answer("record queued", "%s", queued ? "yes" : "no");
  answerText("deregister with a record queued",
             freshError([&] { return SHChangeNotifyDeregister(wideWindow); }));
  answerText("deregister again", freshError([&] { return SHChangeNotifyDeregister(wideWindow); }));
  pumpUntil([&] { return has(wide, expected); });
  answerText("record after deregistration", wide.records.empty() ? "(none)" : wide.records.front());
  if (!wide.held.empty()) {
    SHChangeNotifyFree(wide.held.front());
    SHChangeNotifyFree(wide.held.front());  // a freed record is ignored
  }
  FILECHANGENOTIFY foreign{};
  SHChangeNotifyFree(&foreign);  // so is one that was never a record
  SHChangeNotifyFree(nullptr);
  answer("free twice, foreign and null", "%s", "survived");
  // The narrow window's own record of flight.txt may still be on its way on a busy machine:
  // taken now, so that it is not read as an answer to the next step.
  pumpUntil([&] { return has(narrow, expected); });
  wide.held.clear();
  wide.hold = false;
  wide.records.clear();
  narrow.records.clear();
  conformance::writeBytes(in(kWatched, L"late.txt").c_str(), "l");
  answerText("narrow window after the wide one deregistered", step(narrow));
  answerText("wide window after deregistration", wide.records.empty() ? "(none)" : wide.records.front());
  answerText("deregister narrow window",
             freshError([&] { return SHChangeNotifyDeregister(narrowWindow); }));
}

}  // namespace

int main() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClass;
  RegisterClassW(&windowClass);
  wideWindow = CreateWindowExW(0, kClass, L"wide", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                               instance, nullptr);
  narrowWindow = CreateWindowExW(0, kClass, L"narrow", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                 nullptr, instance, nullptr);
  conformance::removeTree(L"\\conf_sh_moved");
  conformance::freshFolder(kRoot);
  conformance::makeFolder(kWatched);
  conformance::makeFolder(kOther);
  registration(instance);
  operations();
  folderGoneAndBack();
  recordsInFlight();
  DestroyWindow(wideWindow);
  DestroyWindow(narrowWindow);
  conformance::removeTree(kRoot);
  return 0;
}
