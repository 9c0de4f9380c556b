// The process's one inotify instance: which window watches which folder, and the drain that
// turns the kernel's events into WM_FILECHANGEINFO records for those windows. Platform-internal.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/shell/inotify_descriptor.h"
#include "platform/linux/shell/move_pairing.h"
#include "platform/linux/shell/shell.h"
#include "platform/linux/user/message_sources.h"

namespace ce::shell {

class ChangeNotifier final : public ce::MessageSource {
 public:
  // Hands one record to its window; false when the window cannot take it (the record is then
  // released here).
  using Post = bool (*)(HWND window, FILECHANGENOTIFY* record);

  // How long the first half of a move waits for its second half before it counts as a move
  // out. The halves are queued by one rename call, so a partner that has not come within a few
  // milliseconds is not coming; every later event waits behind it, so keep this short.
  static constexpr std::chrono::milliseconds kPartnerWait{3};
  // How soon a folder that is gone is looked for again when no folder above it could be
  // watched either (out of watches, or the device's file system itself is gone).
  static constexpr std::chrono::milliseconds kLookAgain{500};

  explicit ChangeNotifier(Post post);
  bool valid() const { return inotify_.valid(); }

  int descriptor() const override { return inotify_.fd(); }
  void drain() override;
  int pendingTimeoutMs() const override;

  // Watches `hostPath` for `window` instead of whatever it watched before; its first
  // `rootLength` bytes are the device's file system root, above which a gone folder is never
  // looked for. Returns 0 or the Win32 error; on an error the earlier registration stands.
  DWORD watch(HWND window, const std::string& hostPath, size_t rootLength, DWORD eventMask);
  // False when the window watches nothing. A folder that is gone is still watched.
  bool unwatch(HWND window);
  size_t registrationCount() const;

 private:
  struct Registration {
    HWND window;
    int wd;  // -1 while the folder is gone
    DWORD eventMask;
    std::string hostPath;
    std::wstring devicePath;
    size_t rootLength;  // of the device's file system root, the start of hostPath
    // While the folder is gone: the nearest folder above it that exists, watched for the
    // creations that may bring it back; -1 when none could be watched.
    int waitWd = -1;
    std::string waitPath;
    // While the folder is watched: the folders between it and the root, watched for their own
    // move or deletion, which takes the folder away without an event of its own.
    std::vector<std::pair<int, std::string>> guards;
  };

  void drainLocked();
  void readAvailable(Clock::time_point now);
  void deliver(Change& change);
  void deliverMove(const Change& change, DWORD kind);
  void endWatch(const Change& change);
  // Watches every gone folder that is back and tells its window so; the others wait in the
  // nearest folder above them that exists.
  void lookForGoneFolders();
  // True when the registration's folder is watched again.
  bool watchAgain(Registration& registration);
  void stopWaiting(Registration& registration);
  void guard(Registration& registration);
  void unguard(Registration& registration);
  bool guardedBy(int wd) const;
  void addKernelFlags(int wd, uint32_t flags);
  bool usedBy(int wd) const;
  bool waitedOn(int wd) const;
  void post(HWND window, LONG eventId, const std::wstring& path, const std::wstring* newPath);
  // Brings the kernel's flags for `wd` to exactly what its registrations need.
  void refit(int wd);
  const Registration* firstOn(int wd) const;
  std::wstring pathIn(int wd, const std::string& name) const;

  Post post_;
  InotifyDescriptor inotify_;
  mutable std::mutex mutex_;
  std::vector<Registration> registrations_;  // in the order the windows registered
  std::vector<std::pair<int, uint32_t>> kernelFlags_;  // wd -> flags the kernel watches with
  MovePairing pairing_{kPartnerWait};
  std::optional<Clock::time_point> lookAgainAt_;
  std::vector<Change> ready_;
  // About five hundred events per read call: a burst of ten thousand takes some twenty reads.
  // Every byte a read fills stays with the idle listener, so more room buys nothing it keeps.
  alignas(8) std::array<char, 16 * 1024> buffer_;
};

}  // namespace ce::shell
