// What the recording benchmarks start from: a temporary device home and the listener's state
// as start-up leaves it, logging at debug level.
#pragma once

#include <stdlib.h>

#include <string>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "textcore/log.h"
#include "recording/client_push.h"

namespace bench {

// Makes the home from `pattern` (mkdtemp's) and points the platform at it.
inline std::string makeDeviceHome(std::string pattern) {
  std::string home = mkdtemp(pattern.data());
  setenv("CE_DEVICE_HOME", home.c_str(), 1);
  return home;
}

// Opens the configuration on first use; `firstStart` runs once it is open.
inline ClientPush* listenerState(void (*firstStart)(ClientPush*) = nullptr) {
  Log* log = sharedLog();
  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  log->setLevel(LogDebug);
  ClientPush* clientPush = ClientPush::getInstance();
  if (!clientPush->node) {
    clientPush->dmt = createTree("Quillbex/SyncclientPIM");
    clientPush->node = clientPush->dmt->readManagementNode("Quillbex/SyncclientPIM");
    clientPush->launcherPath = L"\\Program Files\\Quillbex\\startsync.exe";
    clientPush->pushInterval = 1;
    if (firstStart) firstStart(clientPush);
  }
  return clientPush;
}

}  // namespace bench
