#include "textcore/log.h"
#include "textcore/win_log.h"

// Never destroyed: code that runs during exit (static destructors, atexit handlers) may still
// log, and a destroyed log would be a use after free. The process exit reclaims it.
Log* sharedLog() {
  static Log* const instance = new winLog(false, nullptr, nullptr);
  return instance;
}
