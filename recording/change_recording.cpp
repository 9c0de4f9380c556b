#include "recording/change_recording.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "clientlib/mainclient.h"
#include "config/dm_tree.h"
#include "config/management_node.h"
#include "encoding/conversions.h"
#include "recording/client_push.h"
#include "recording/offline_changes.h"
#include "log/log.h"
#include "platform/notify.h"
#include "platform/registry/transaction.h"

namespace {

// One minute in the 100 ns units of DT_AddDiff.
constexpr LONGLONG oneMinute = 600000000LL;

// atoi's reading of a stored number, but a value out of range saturates instead of being
// undefined: a huge "clientPushList" must not lose the bits it holds.
int32_t numberOf(const char* text) {
  if (!text) return 0;
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Reads the list, schedules and marks the source unless it is suspended, writes the list back.
void recordChange(ClientPush* clientPush, int32_t sourceId) {
  char* stored = clientPush->node->readValue("clientPushList");
  int32_t list = numberOf(stored ? stored : "0");
  const DataSource* source = sourceById(sourceId);
  if (source && !clientPush->sourceFlags[source->flagPosition]) {
    scheduleNextSync(clientPush);
    list |= source->bit;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%d", list);
  clientPush->node->writeValue("clientPushList", text);
  delete[] stored;
}

}  // namespace

void setPIMModifications(ClientPush* clientPush, int32_t sourceId) {
  Log* log = sharedLog();
  if (!clientPush->dmt) {
    log->error("CP setPIMModifications: dmt null");
    return;
  }
  if (!clientPush->node) {
    log->error("CP setPIMModifications: node null");
    return;
  }
  // The list is read, changed and written back in one registry transaction: another process
  // writing it in between (the client clearing what it synchronised, a second listener)
  // would otherwise lose its bits or ours. The write inside is still the one durable commit.
  // A store that cannot even start the transaction gets the change without one, rather than
  // not at all.
  bool recorded = false;
  ce::registry::runInTransaction([&]() -> LONG {
    recordChange(clientPush, sourceId);
    rememberRecordedState(clientPush, sourceId);
    recorded = true;
    return ERROR_SUCCESS;
  });
  if (!recorded) recordChange(clientPush, sourceId);
}

bool scheduleNextSync(ClientPush* clientPush) {
  GetLocalTime(&clientPush->lastChangeTime);
  clientPush->nextSyncTime = DT_AddDiff(oneMinute, static_cast<LONGLONG>(clientPush->pushInterval),
                                        &clientPush->lastChangeTime);
  BOOL scheduled = CeRunAppAtTime(clientPush->launcherPath.c_str(), &clientPush->nextSyncTime);
  const SYSTEMTIME& next = clientPush->nextSyncTime;
  sharedLog()->debug("CP: Next scheduled sync of %S will start at ' %04d-%02d-%02d %02d.%02d.%02d'",
                     clientPush->launcherPath.c_str(), next.wYear, next.wMonth, next.wDay,
                     next.wHour, next.wMinute, next.wSecond);
  return scheduled == 1;
}

void loadPushConfig(ClientPush* clientPush) {
  if (!clientPush->node) return;
  char* path = clientPush->node->readValue("path");
  wchar_t* widePath = toWideChar(path);
  clientPush->launcherPath = widePath ? widePath : L"";
  clientPush->launcherPath += L"\\startsync.exe";
  delete[] widePath;
  delete[] path;
  char* interval = clientPush->node->readValue("clientPushInterval");
  clientPush->pushInterval = numberOf(interval);
  delete[] interval;
}
