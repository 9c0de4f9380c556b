// The ReadDirectoryChangesW back end of the shell notifications.
//
// One watcher thread serves every registration of the process through one I/O completion
// port: each watched folder is a directory handle with one overlapped read always pending, and
// the thread turns each completed buffer into records, posts them to the window
// (PostMessageW, which any thread may call) and reads again at once, so that the system's
// buffer stays short however slowly the windows handle their messages. Registration and
// deregistration are commands run on that thread too, so that a folder is watched from the
// moment SHChangeNotifyRegister returns and no record is posted for a window once
// SHChangeNotifyDeregister has returned.
//
// The two halves of a rename come as two entries, usually of one buffer; a first half that
// ends a buffer waits briefly for its partner in the next. A half whose partner never comes
// was a move out of, or into, the folder. ReadDirectoryChangesW says nothing of whether an
// entry names a file or a folder, and a name that is gone cannot be asked: the folder's own
// subfolders are therefore known by name, read when the watch begins and kept up to date by
// the events, so that a folder removed is told as SHCNE_RMDIR.
//
// A buffer that overflowed comes back empty: the window is told to look at its whole folder
// again (SHCNE_UPDATEDIR), whatever it asked for.
//
// A watched folder that is deleted or moved away, by itself or with a folder above it, does
// not end its registration: the folders above it are each read for the names of their
// folders, and when the one on the way is removed or renamed, the window is told with
// SHCNE_RMDIR on the folder's own path, whatever its mask; then the nearest folder above that
// still exists is read until a folder is back under the path, and the window is told with
// SHCNE_MKDIR on that path: files may have come with it that no event will report.
// FIXME: entries of the folder that the system had not yet handed over when the folder went
// are lost with its handle; the SHCNE_RMDIR that follows tells the whole folder gone.
#include "platform/win32/shell/change_notifier.h"

#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/win32/shell/event_kinds.h"
#include "platform/win32/shell/notification_records.h"

namespace ce::shell {

namespace {

// Large enough for about two thousand entries per read.
constexpr DWORD kBufferSize = 64 * 1024;
// How long the first half of a rename that ended a buffer waits for its second half.
constexpr ULONGLONG kPartnerWaitMs = 50;
// How soon a folder that is gone is looked for again when no folder above it could be read.
constexpr ULONGLONG kLookAgainMs = 500;

constexpr ULONG_PTR kCommandKey = 1;
constexpr ULONG_PTR kWatchKey = 2;

struct Registration;

// One directory handle and its pending read.
struct Watch {
  OVERLAPPED overlapped{};  // first: the completion gives back its address
  HANDLE directory = INVALID_HANDLE_VALUE;
  Registration* owner = nullptr;  // null once let go: freed when its read completes
  bool folder = true;             // false: a folder above, read for `below`
  std::wstring below;             // upper case: the name on the way to the watched folder
  bool reading = false;
  alignas(DWORD) BYTE buffer[kBufferSize];
};

struct Registration {
  HWND window = nullptr;
  DWORD mask = 0;
  std::wstring devicePath;          // as the records show it
  std::vector<std::wstring> steps;  // full paths from the root down to the folder itself
  Watch* folder = nullptr;          // while the folder is there
  std::vector<Watch*> above;        // the folders above it, or while gone the nearest one
  bool gone = false;
  std::set<std::wstring> subfolders;   // upper-case names of the folder's own folders
  std::optional<std::wstring> heldOld;  // a first half of a rename waiting for its second
  ULONGLONG heldSince = 0;
  std::optional<ULONGLONG> lookAgainAt;
};

struct Command {
  bool watch = true;
  HWND window = nullptr;
  std::wstring devicePath;
  DWORD mask = 0;
  DWORD result = ERROR_SUCCESS;
  HANDLE done = nullptr;
};

std::wstring upper(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

bool isFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring joined(const std::wstring& folder, const std::wstring& name) {
  return folder.empty() || folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

// The folders from the root of `fullPath` down to itself.
std::vector<std::wstring> stepsOf(const std::wstring& fullPath) {
  std::vector<std::wstring> steps;
  size_t root = fullPath.size() >= 3 && fullPath[1] == L':' && fullPath[2] == L'\\' ? 3 : 0;
  if (root == 0) return {fullPath};  // FIXME: no folder above a UNC path is read
  steps.push_back(fullPath.substr(0, root));
  for (size_t at = root; at < fullPath.size();) {
    size_t slash = fullPath.find(L'\\', at);
    if (slash == std::wstring::npos) slash = fullPath.size();
    if (slash > at) steps.push_back(fullPath.substr(0, slash));
    at = slash + 1;
  }
  return steps;
}

std::wstring lastName(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

class Notifier {
 public:
  Notifier() {
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (port_) thread_ = CreateThread(nullptr, 0, &Notifier::threadMain, this, 0, nullptr);
  }
  bool valid() const { return port_ && thread_; }

  // Runs `command` on the watcher thread and waits for it.
  void run(Command& command) {
    command.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!command.done) {
      command.result = GetLastError();
      return;
    }
    if (PostQueuedCompletionStatus(port_, 0, kCommandKey,
                                   reinterpret_cast<OVERLAPPED*>(&command)))
      WaitForSingleObject(command.done, INFINITE);
    else
      command.result = GetLastError();
    CloseHandle(command.done);
  }

 private:
  static DWORD WINAPI threadMain(void* self) {
    static_cast<Notifier*>(self)->loop();
    return 0;
  }

  void loop() {
    for (;;) {
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* overlapped = nullptr;
      BOOL ok = GetQueuedCompletionStatus(port_, &bytes, &key, &overlapped, timeoutMs());
      DWORD error = ok ? ERROR_SUCCESS : GetLastError();
      if (!overlapped) {
        onTimers();
        continue;
      }
      if (key == kCommandKey) {
        auto* command = reinterpret_cast<Command*>(overlapped);
        command->result = command->watch ? watch(*command) : unwatch(command->window);
        SetEvent(command->done);
        continue;
      }
      auto* watch = reinterpret_cast<Watch*>(overlapped);
      watch->reading = false;
      if (!watch->owner) {
        free(watch);
        continue;
      }
      if (watch->folder)
        onFolderRead(*watch->owner, *watch, bytes, error);
      else
        onAboveRead(*watch->owner, *watch, bytes, error);
    }
  }

  DWORD timeoutMs() const {
    ULONGLONG now = GetTickCount64();
    ULONGLONG soonest = INFINITE;
    for (const auto& registration : registrations_) {
      if (registration->heldOld)
        soonest = std::min(soonest, registration->heldSince + kPartnerWaitMs);
      if (registration->lookAgainAt) soonest = std::min(soonest, *registration->lookAgainAt);
    }
    if (soonest == INFINITE) return INFINITE;
    return soonest <= now ? 0 : static_cast<DWORD>(soonest - now);
  }

  void onTimers() {
    ULONGLONG now = GetTickCount64();
    for (const auto& registration : registrations_) {
      Registration& r = *registration;
      if (r.heldOld && now >= r.heldSince + kPartnerWaitMs) releaseHeld(r);
      if (r.lookAgainAt && now >= *r.lookAgainAt) {
        r.lookAgainAt.reset();
        lookForFolder(r);
      }
    }
  }

  // Opens `path` and starts its first read; null when it cannot be opened.
  Watch* open(Registration& owner, const std::wstring& path, bool folder,
              const std::wstring& below) {
    HANDLE directory =
        CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (directory == INVALID_HANDLE_VALUE) return nullptr;
    if (!CreateIoCompletionPort(directory, port_, kWatchKey, 0)) {
      CloseHandle(directory);
      return nullptr;
    }
    auto* watch = new Watch;
    watch->directory = directory;
    watch->owner = &owner;
    watch->folder = folder;
    watch->below = upper(below);
    if (!read(*watch)) {
      free(watch);
      return nullptr;
    }
    return watch;
  }

  bool read(Watch& watch) {
    watch.overlapped = OVERLAPPED{};
    watch.reading = ReadDirectoryChangesW(watch.directory, watch.buffer, kBufferSize, FALSE,
                                          watch.folder ? kFolderFilter : kAboveFilter, nullptr,
                                          &watch.overlapped, nullptr) != FALSE;
    return watch.reading;
  }

  // Lets go of a watch: closed now, freed once its cancelled read has come back.
  void release(Watch* watch) {
    if (!watch) return;
    watch->owner = nullptr;
    if (watch->reading)
      CancelIoEx(watch->directory, &watch->overlapped);
    else
      free(watch);
  }

  void free(Watch* watch) {
    if (watch->directory != INVALID_HANDLE_VALUE) CloseHandle(watch->directory);
    delete watch;
  }

  void releaseAll(Registration& r) {
    release(r.folder);
    r.folder = nullptr;
    for (Watch* watch : r.above) release(watch);
    r.above.clear();
  }

  void post(Registration& r, DWORD kind, const std::wstring& path,
            const std::wstring* newPath = nullptr, bool whateverTheMask = false) {
    if (!whateverTheMask && !(r.mask & kind)) return;
    FILECHANGENOTIFY* record = newRecord(static_cast<LONG>(kind), path, newPath);
    if (!PostMessageW(r.window, WM_FILECHANGEINFO, 0, reinterpret_cast<LPARAM>(record)))
      releaseRecord(record);
  }

  std::wstring devicePathOf(const Registration& r, const std::wstring& name) const {
    return joined(r.devicePath, name);
  }

  void readSubfolders(Registration& r) {
    r.subfolders.clear();
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(joined(r.steps.back(), L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
      std::wstring name = entry.cFileName;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..")
        r.subfolders.insert(upper(name));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
  }

  // Reads the folder and every folder above it; false (and nothing read) when the folder
  // cannot be opened.
  bool watchWhole(Registration& r) {
    r.folder = open(r, r.steps.back(), true, L"");
    if (!r.folder) return false;
    // Read only now: a folder made meanwhile is in the list or comes as an event.
    readSubfolders(r);
    for (size_t i = 0; i + 1 < r.steps.size(); ++i)
      if (Watch* watch = open(r, r.steps[i], false, lastName(r.steps[i + 1])))
        r.above.push_back(watch);
    r.gone = false;
    return true;
  }

  void goGone(Registration& r) {
    if (r.gone) return;
    releaseHeld(r);
    releaseAll(r);
    r.gone = true;
    post(r, SHCNE_RMDIR, r.devicePath, nullptr, true);
    lookForFolder(r);
  }

  // For a gone folder: reads it again when it is back, else waits in the nearest folder
  // above it that exists.
  void lookForFolder(Registration& r) {
    // Each round either watches the folder or waits above it; a round is repeated only when
    // the step below the waiting folder appeared before the wait began.
    for (int round = 0; round < 8; ++round) {
      for (Watch* watch : r.above) release(watch);
      r.above.clear();
      if (isFolder(r.steps.back()) && watchWhole(r)) {
        post(r, SHCNE_MKDIR, r.devicePath, nullptr, true);
        return;
      }
      size_t step = r.steps.size() - 1;
      Watch* wait = nullptr;
      while (step > 0 && !wait) {
        --step;
        if (isFolder(r.steps[step]))
          wait = open(r, r.steps[step], false, lastName(r.steps[step + 1]));
      }
      if (!wait) {
        r.lookAgainAt = GetTickCount64() + kLookAgainMs;
        return;
      }
      r.above.push_back(wait);
      if (!isFolder(r.steps[step + 1])) return;
    }
  }

  void releaseHeld(Registration& r) {
    if (!r.heldOld) return;
    std::wstring name = std::move(*r.heldOld);
    r.heldOld.reset();
    bool folder = r.subfolders.erase(upper(name)) > 0;
    post(r, eventKindFor(Action::movedOut, folder), devicePathOf(r, name));
  }

  void renamed(Registration& r, const std::wstring& from, const std::wstring& to) {
    bool folder = r.subfolders.erase(upper(from)) > 0;
    if (folder) r.subfolders.insert(upper(to));
    std::wstring newPath = devicePathOf(r, to);
    post(r, eventKindFor(Action::renamed, folder), devicePathOf(r, from), &newPath);
  }

  void appeared(Registration& r, const std::wstring& name, Action action) {
    // FIXME: a folder already gone again by now is told as a file.
    bool folder = isFolder(joined(r.steps.back(), name));
    if (folder) r.subfolders.insert(upper(name));
    post(r, eventKindFor(action, folder), devicePathOf(r, name));
  }

  void onFolderRead(Registration& r, Watch& watch, DWORD bytes, DWORD error) {
    const bool overflowed = error == ERROR_NOTIFY_ENUM_DIR || (error == ERROR_SUCCESS && bytes == 0);
    if ((error != ERROR_SUCCESS && !overflowed) || !isFolder(r.steps.back())) {
      // The read ends with the folder; a folder still there is read again.
      if (isFolder(r.steps.back()) && read(watch)) return;
      goGone(r);
      return;
    }
    if (overflowed) {
      releaseHeld(r);
      post(r, SHCNE_UPDATEDIR, r.devicePath, nullptr, true);
      readSubfolders(r);
    } else {
      deliver(r, watch.buffer, bytes);
    }
    if (r.folder == &watch && !read(watch)) goGone(r);
  }

  void deliver(Registration& r, const BYTE* buffer, DWORD bytes) {
    for (DWORD at = 0; at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes + sizeof(WCHAR);) {
      const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      const bool last = entry->NextEntryOffset == 0;
      if (r.heldOld && entry->Action != FILE_ACTION_RENAMED_NEW_NAME) releaseHeld(r);
      switch (entry->Action) {
        case FILE_ACTION_ADDED: appeared(r, name, Action::added); break;
        case FILE_ACTION_REMOVED: {
          bool folder = r.subfolders.erase(upper(name)) > 0;
          post(r, eventKindFor(Action::removed, folder), devicePathOf(r, name));
          break;
        }
        case FILE_ACTION_RENAMED_OLD_NAME:
          r.heldOld = name;
          r.heldSince = GetTickCount64();
          break;
        case FILE_ACTION_RENAMED_NEW_NAME:
          if (r.heldOld) {
            std::wstring from = std::move(*r.heldOld);
            r.heldOld.reset();
            renamed(r, from, name);
          } else {
            appeared(r, name, Action::movedIn);
          }
          break;
        default: break;  // FILE_ACTION_MODIFIED: not asked for
      }
      if (last) break;
      at += entry->NextEntryOffset;
    }
  }

  void onAboveRead(Registration& r, Watch& watch, DWORD bytes, DWORD error) {
    if (r.gone) {
      // Something changed on the way to the gone folder: it may be back, or a step towards it.
      lookForFolder(r);
      return;
    }
    // Entries lost (an error, an overflow) may have taken the folder away with them.
    const bool lost = error != ERROR_SUCCESS || bytes == 0;
    bool onTheWay = false;
    for (DWORD at = 0; !lost && at + sizeof(FILE_NOTIFY_INFORMATION) <= bytes + sizeof(WCHAR);) {
      const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(watch.buffer + at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      if ((entry->Action == FILE_ACTION_REMOVED ||
           entry->Action == FILE_ACTION_RENAMED_OLD_NAME) &&
          upper(name) == watch.below)
        onTheWay = true;
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
    // A folder that stands under the path again is another one than the folder read: what was
    // read is gone, and the folder there now is read from here on.
    if (onTheWay || (lost && !isFolder(r.steps.back()))) {
      goGone(r);
      return;
    }
    if (!read(watch)) {
      std::erase(r.above, &watch);
      release(&watch);
    }
  }

  DWORD watch(const Command& command) {
    std::vector<WCHAR> full(MAX_PATH * 2);
    std::wstring hostPath = ce::win32::hostPathOf(command.devicePath.c_str());
    DWORD length = GetFullPathNameW(hostPath.c_str(), static_cast<DWORD>(full.size()),
                                    full.data(), nullptr);
    if (length == 0 || length >= full.size()) return ERROR_PATH_NOT_FOUND;
    std::wstring fullPath(full.data(), length);
    while (fullPath.size() > 3 && fullPath.back() == L'\\') fullPath.pop_back();
    if (!isFolder(fullPath)) return ERROR_PATH_NOT_FOUND;
    auto registration = std::make_unique<Registration>();
    registration->window = command.window;
    registration->mask = command.mask;
    registration->devicePath = command.devicePath;
    registration->steps = stepsOf(fullPath);
    if (!watchWhole(*registration)) {
      DWORD error = GetLastError();
      releaseAll(*registration);
      return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
    }
    unwatch(command.window);
    registrations_.push_back(std::move(registration));
    return ERROR_SUCCESS;
  }

  DWORD unwatch(HWND window) {
    for (auto it = registrations_.begin(); it != registrations_.end(); ++it) {
      if ((*it)->window != window) continue;
      releaseAll(**it);
      registrations_.erase(it);
      return ERROR_SUCCESS;
    }
    return ERROR_INVALID_PARAMETER;
  }

  HANDLE port_ = nullptr;
  HANDLE thread_ = nullptr;
  std::vector<std::unique_ptr<Registration>> registrations_;  // the watcher thread's alone
};

Notifier* notifier() {
  static Notifier* instance = new Notifier;  // lives as long as its thread: the process
  return instance->valid() ? instance : nullptr;
}

// The path as the records show it: as given, without the separators that end it.
std::wstring trimmed(const std::wstring& path) {
  std::wstring out = path;
  while (out.size() > 1 && (out.back() == L'\\' || out.back() == L'/')) out.pop_back();
  return out;
}

}  // namespace

DWORD watchFolder(HWND window, const std::wstring& devicePath, DWORD eventMask) {
  Notifier* watcher = notifier();
  if (!watcher) return ERROR_NOT_ENOUGH_MEMORY;
  Command command;
  command.watch = true;
  command.window = window;
  command.devicePath = trimmed(devicePath);
  command.mask = eventMask;
  watcher->run(command);
  return command.result;
}

bool unwatchFolder(HWND window) {
  Notifier* watcher = notifier();
  if (!watcher) return false;
  Command command;
  command.watch = false;
  command.window = window;
  watcher->run(command);
  return command.result == ERROR_SUCCESS;
}

}  // namespace ce::shell
