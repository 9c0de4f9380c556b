// The window table in run/: one file per window, so that any process can find windows by
// class and tell whether their owner still lives. Platform-internal.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/user/unique_fd.h"

namespace ce::user {

struct WindowRecord {
  uint64_t hwnd = 0;
  int pid = 0;
  uint64_t order = 0;  // monotonic clock at creation, in nanoseconds
  std::wstring className;
  std::wstring title;
};

std::string windowFilePath(uint64_t hwnd);

// A window's file, present and locked while the object holds it; removed when it goes.
class PublishedWindow {
 public:
  PublishedWindow() = default;
  PublishedWindow(PublishedWindow&&) = default;
  PublishedWindow& operator=(PublishedWindow&& other) noexcept;
  ~PublishedWindow() { withdraw(); }

  // False with the reason in SetLastError when run/ cannot take the file.
  bool publish(const WindowRecord& record);
  // Removes the file and drops the lock.
  void withdraw();
  // Drops the lock and forgets the file without removing it: a forked child must not remove
  // the windows of its parent.
  void abandon();

 private:
  std::string path_;
  UniqueFd lock_;
};

// Live windows of every process, oldest first.
std::vector<WindowRecord> liveWindows();
// True when the window's file exists and its owner holds it.
bool windowIsLive(uint64_t hwnd);
// Removes the files and socket a dead earlier process with this pid left behind.
void removeLeftoversOf(int pid);
// Removes the window files of every process that has died, whoever has its pid now.
void removeDeadWindowFiles();
// True while a process has this pid (perhaps not the one that had it before).
bool processExists(int pid);

// For a poster: keeps each target window's file open, so that a repeated check costs one
// flock call. Not thread-safe: its owner serialises calls.
class LivenessCache {
 public:
  bool alive(uint64_t hwnd);
  void clear() { files_.clear(); }

 private:
  std::map<uint64_t, UniqueFd> files_;
};

}  // namespace ce::user
