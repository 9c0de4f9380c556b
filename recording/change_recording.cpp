#include "recording/change_recording.h"

#include <optional>
#include <string>

#include "clientlib/mainclient.h"
#include "config/dm_tree.h"
#include "config/management_node.h"
#include "config/stored_number.h"
#include "textcore/conversions.h"
#include "recording/client_push.h"
#include "recording/offline_changes.h"
#include "textcore/log.h"
#include "platform/notify.h"
#include "platform/registry_transaction.h"

namespace {

using SyncRequest = UnrecordedChanges::SyncRequest;

// One minute in the 100 ns units of DT_AddDiff.
constexpr LONGLONG oneMinute = 600000000LL;

// The stored list with `bits` added, as text of the kind it was read in: a list that is
// a number of any width, signed or not, keeps every bit (config/stored_number.h); one that
// holds no number counts as 0.
std::string listWith(const char* stored, uint32_t bits) {
  StoredNumber list = leadingNumber(stored).value_or(StoredNumber{});
  list.bits |= bits;
  return decimalText(list);
}

// Adds `bits` to the stored list. The list is read, changed and written back in one registry
// transaction: another process writing it in between (the client clearing what it
// synchronised, a second listener) would otherwise lose its bits or ours. The write inside
// is the one durable commit, and the node leaves out a write of what the store holds already,
// as every change of a burst after the first would be. The transaction's write lock still
// orders this read after any other writer's, so a list cleared meanwhile is seen and written
// again. ERROR_SUCCESS once committed.
LONG writeList(ClientPush* clientPush, int32_t bits, int32_t sourceId) {
  return ce::registry::runInTransaction([&]() -> LONG {
    char* stored = clientPush->node->readValue("clientPushList");
    std::string text = listWith(stored, static_cast<uint32_t>(bits));
    delete[] stored;
    // writeValue reports nothing but the node's last error; a refused write must roll back
    // and keep the bits, not pass for a recorded change.
    lastErrorCode = 0;
    clientPush->node->writeValue("clientPushList", text.c_str());
    if (lastErrorCode != 0) return static_cast<LONG>(lastErrorCode);
    // In the list's own commit, so a restart never sees the bit without the state it covers.
    rememberRecordedState(clientPush, sourceId);
    return ERROR_SUCCESS;
  });
}

bool requestStart(ClientPush* clientPush) {
  UnrecordedChanges& unrecorded = clientPush->unrecorded;
  bool accepted;
  if (unrecorded.syncRequest == SyncRequest::toRepeat) {
    // The time stays that of the change; one already past starts the launcher at once.
    accepted = CeRunAppAtTime(clientPush->launcherPath.c_str(), &clientPush->nextSyncTime) == 1;
  } else {
    accepted = scheduleNextSync(clientPush);
  }
  if (accepted) {
    unrecorded.syncRequest = SyncRequest::none;
    unrecorded.requestFailureLogged = false;
    return true;
  }
  if (!unrecorded.requestFailureLogged) {
    sharedLog()->error("CP: The start of %S could not be requested (error %lu); it is retried",
                       clientPush->launcherPath.c_str(),
                       static_cast<unsigned long>(GetLastError()));
    unrecorded.requestFailureLogged = true;
  }
  unrecorded.syncRequest = SyncRequest::toRepeat;
  return false;
}

// Writes `bits` with whatever earlier changes left unwritten, then asks for the launcher's
// start when `scheduleWanted` or when an earlier request is still owed. The list is committed
// before the request is made: a launcher started at once must find every bit it is for.
void record(ClientPush* clientPush, int32_t sourceId, int32_t bits, bool scheduleWanted) {
  UnrecordedChanges& unrecorded = clientPush->unrecorded;
  if (scheduleWanted) unrecorded.syncRequest = SyncRequest::toSchedule;
  LONG written = writeList(clientPush, unrecorded.bits | bits, sourceId);
  if (written != ERROR_SUCCESS) {
    unrecorded.bits |= bits;
    if (!unrecorded.listFailureLogged) {
      sharedLog()->error("CP: clientPushList could not be written (error %ld); the change is "
                         "kept and retried", static_cast<long>(written));
      unrecorded.listFailureLogged = true;
    }
    return;
  }
  if (unrecorded.listFailureLogged) sharedLog()->info("CP: Kept changes written to clientPushList");
  unrecorded.bits = 0;
  unrecorded.listFailureLogged = false;
  if (unrecorded.syncRequest != SyncRequest::none) requestStart(clientPush);
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
  const DataSource* source = sourceById(sourceId);
  bool recorded = source && !clientPush->sourceFlags[source->flagPosition];
  record(clientPush, sourceId, recorded ? source->bit : 0, recorded);
}

bool hasUnrecordedChanges(const ClientPush* clientPush) { return clientPush->unrecorded.any(); }

void retryUnrecordedChanges(ClientPush* clientPush) {
  if (!clientPush->unrecorded.any() || !clientPush->dmt || !clientPush->node) return;
  if (clientPush->unrecorded.bits != 0) {
    record(clientPush, 0, 0, false);
  } else {
    requestStart(clientPush);
  }
}

bool scheduleNextSync(ClientPush* clientPush) {
  GetLocalTime(&clientPush->lastChangeTime);
  clientPush->nextSyncTime = DT_AddDiff(oneMinute, static_cast<LONGLONG>(clientPush->pushInterval),
                                        &clientPush->lastChangeTime);
  BOOL scheduled = CeRunAppAtTime(clientPush->launcherPath.c_str(), &clientPush->nextSyncTime);
  DWORD error = GetLastError();
  const SYSTEMTIME& next = clientPush->nextSyncTime;
  sharedLog()->debug("CP: Next scheduled sync of %S will start at ' %04d-%02d-%02d %02d.%02d.%02d'",
                     clientPush->launcherPath.c_str(), next.wYear, next.wMonth, next.wDay,
                     next.wHour, next.wMinute, next.wSecond);
  SetLastError(error);
  return scheduled == 1;
}

void reportSchedulerNotWoken(const wchar_t* app, const char* reason) {
  sharedLog()->error("CP: The start of %S is requested, but the scheduler could not be woken (%s)",
                     app, reason);
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
  int32_t minutes = 0;
  bool usable = true;
  if (std::optional<StoredNumber> number = leadingNumber(interval)) {
    // More than a year either way is a mistaken setting, not a wish: the date arithmetic
    // would carry it (to year 30827; only below about -223 million minutes does the sum fall
    // before 1601), but the launcher would then start decades away, or at once for a time
    // long past. Clamped and named, so the mistake shows in the log.
    if (number->negative) {
      auto value = static_cast<int64_t>(number->bits);
      usable = value >= -maxPushIntervalMinutes;
      minutes = usable ? static_cast<int32_t>(value) : -maxPushIntervalMinutes;
    } else {
      usable = number->bits <= static_cast<uint64_t>(maxPushIntervalMinutes);
      minutes = usable ? static_cast<int32_t>(number->bits) : maxPushIntervalMinutes;
    }
  } else {
    // Only a missing value is the default; a stored one that holds no number is a mistake.
    usable = !clientPush->node->hasValue("clientPushInterval");
  }
  if (!usable)
    sharedLog()->error("CP: clientPushInterval %s is out of range; %d minutes are used",
                       *interval ? interval : "\"\"", minutes);
  clientPush->pushInterval = minutes;
  delete[] interval;
}
