// The device tool's one wait: Ctrl-C and SIGTERM through a signalfd, the processes it
// watches through their pidfds, and a followed file through inotify, all in one poll.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/process.h"

namespace ce {

EventWaiter::EventWaiter(const std::string& followedFile) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signalFd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (!followedFile.empty()) {
    std::filesystem::path path(followedFile);
    fileName_ = path.filename().string();
    inotifyFd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    // The folder is watched, so a file that does not exist yet is seen when it appears.
    // Growth and truncation both come as IN_MODIFY; IN_CLOSE_WRITE would only double the
    // events of a writer that opens and closes the file for every line.
    if (inotifyFd_ >= 0 &&
        inotify_add_watch(inotifyFd_, path.parent_path().c_str(),
                          IN_MODIFY | IN_CREATE | IN_MOVED_TO) < 0) {
      close(inotifyFd_);
      inotifyFd_ = -1;
    }
  }
}

EventWaiter::~EventWaiter() {
  if (signalFd_ >= 0) close(signalFd_);
  if (inotifyFd_ >= 0) close(inotifyFd_);
}

void EventWaiter::stopFollowing() {
  if (inotifyFd_ >= 0) close(inotifyFd_);
  inotifyFd_ = -1;
}

EventWaiter::Event EventWaiter::wait(int timeoutMs, const std::vector<Process*>& processes) {
  std::vector<pollfd> fds{{signalFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
  for (Process* process : processes)
    if (process && process->valid()) fds.push_back({process->endDescriptor(), POLLIN, 0});
  // poll skips negative descriptors, so a missing signalfd or inotify costs nothing.
  int ready = poll(fds.data(), fds.size(), timeoutMs);
  if (ready <= 0) return Event::timeout;
  if (fds[0].revents & POLLIN) {
    signalfd_siginfo info;
    while (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
      if (info.ssi_signo == SIGINT || info.ssi_signo == SIGTERM) return Event::interrupted;
  }
  for (size_t i = 2; i < fds.size(); ++i)
    if (fds[i].revents) return Event::childEnded;
  Event event = Event::timeout;
  if (fds[1].revents & POLLIN) {
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = read(inotifyFd_, buffer, sizeof buffer)) > 0)
      for (char* p = buffer; p < buffer + length;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        if (e->len && fileName_ == e->name) event = Event::fileChanged;
        p += sizeof(inotify_event) + e->len;
      }
  }
  return event;
}

}  // namespace ce
