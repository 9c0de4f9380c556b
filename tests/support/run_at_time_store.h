// A run-at-time store made apart from the device under test, for tests that put it in place.
#pragma once

#include <cstdlib>
#include <string>

#include "platform/notify.h"
#include "platform/testing.h"
#include "tests/platform/child_processes.h"

namespace ce::test {

// A store of another device home below `home`, made by another process and closed, so that
// it is one whole file holding one request: what a user puts in place of a device's
// notify.db. Call it before starting threads: the child of a process with threads may find
// a lock held. "" when the request could not be made.
inline std::string storeMadeElsewhere(const std::string& home, const wchar_t* app,
                                      const SYSTEMTIME& due) {
  std::string elsewhere = home + "/elsewhere";
  int made = exitCodeInChild([&] {
    setenv("CE_DEVICE_HOME", elsewhere.c_str(), 1);
    ce::testing::reset();
    BOOL requested = CeRunAppAtTime(app, &due);
    ce::testing::reset();  // the last connection puts the log back into the file
    return requested ? 0 : 1;
  });
  return made == 0 ? elsewhere + "/system/notify.db" : "";
}

}  // namespace ce::test
