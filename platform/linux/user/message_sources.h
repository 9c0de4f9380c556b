// Descriptors the message loop waits on besides its own queue and socket. The shell family
// registers its inotify descriptor here, so that GetMessageW drains file events into the
// thread's queue every time it is called, in the order they happened. Platform-internal.
#pragma once

namespace ce {

class MessageSource {
 public:
  virtual ~MessageSource() = default;
  // Polled for POLLIN by GetMessageW.
  virtual int descriptor() const = 0;
  // Reads everything available without blocking and posts the messages it makes. Called by
  // GetMessageW and PeekMessageW whenever the queue holds nothing they may take, before they
  // wait or give up.
  virtual void drain() = 0;
  // When >= 0, GetMessageW wakes after at most this many milliseconds to call drain() again
  // (for events that wait on a partner, such as the first half of a rename).
  virtual int pendingTimeoutMs() const { return -1; }
};

// The loop does not own the source; remove it before destroying it.
void addMessageSource(MessageSource* source);
void removeMessageSource(MessageSource* source);

}  // namespace ce
