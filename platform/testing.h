// What tests need and production never calls: a reset of all process-wide platform state, a
// frozen local clock, a time-zone override and fail points.
#pragma once

#include "platform/windows.h"

namespace ce::testing {

// Forgets every process-wide platform state: the cached device home (re-read from
// $CE_DEVICE_HOME), open registry and store connections, windows, classes, queues, watches,
// mutexes, the clock and time-zone overrides and all fail points.
void reset();

void freezeLocalTime(const SYSTEMTIME& now);
void advanceLocalTime(long long milliseconds);   // only while frozen
void thawLocalTime();
void setTimeZoneBias(LONG biasMinutes);
void clearTimeZoneBias();

// How long a registry write waits for a store another process keeps locked (until reset()).
void setRegistryBusyTimeout(int milliseconds);
// The same for a run-at-time request or claim and notify.db.
void setRunAtTimeBusyTimeout(int milliseconds);

// The next `times` calls of `function` (all when negative) fail: they return `result` (cast
// to the function's result type) with `lastError` set. Besides platform calls by their
// names, "PimStoreCommit" makes the commit of a PIM store change fail (rolled back, nothing
// notified).
void setFailPoint(const char* function, long long result, DWORD lastError = 0, int times = -1);
void clearFailPoints();

// Window message datagrams are accepted from this user id instead of the process's own
// (negative: the process's own again), so that the refusal of other users can be tried
// without root. reset() restores it.
void acceptMessagesFromUser(long long uid);

}  // namespace ce::testing
