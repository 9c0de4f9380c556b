// The scheduler: lists requests, claims and starts the due ones, and sleeps until the next.
//
// A due request is claimed (removed while it still holds the time that was read) before its
// program starts. A request that another process replaced meanwhile is then not claimed and
// stays pending for its new time; two schedulers of one device never start the same request
// twice. A scheduler killed between claim and start loses that one start, which the next
// change's request makes good.
//
// The loop sleeps on the store's change event, which every writer sets once its change is in
// place, and on the process's own wake event (wakeScheduler), never longer than a minute.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "platform/notify.h"
#include "platform/win32/notify/request_store.h"
#include "platform/win32/notify/time_ticks.h"
#include "platform/win32/objectstore/object_store.h"

namespace ce::notify {

namespace {

// The longest sleep: a clock set forward, or a change of daylight saving time, is noticed
// within this.
constexpr int longestSleepMs = 60000;
// After a store failure the loop tries again after this, never faster.
constexpr int retryMs = 1000;

void check(DWORD error) {
  if (error != ERROR_SUCCESS) throw StoreError(store::describe(error));
}

long long ticksOrThrow(const SYSTEMTIME& time) {
  long long ticks;
  if (!ticksOf(time, ticks)) throw std::invalid_argument("not a valid local time");
  return ticks;
}

std::vector<Request> requestsDueBy(long long ticks) {
  std::vector<store::Row> rows;
  check(store::list(ticks, rows));
  std::vector<Request> requests;
  requests.reserve(rows.size());
  for (const store::Row& row : rows) {
    Request request{row.app, {}};
    if (!timeOf(row.due, request.due)) throw StoreError("notify.db: impossible time stored");
    requests.push_back(std::move(request));
  }
  return requests;
}

std::string startLine(const SYSTEMTIME& now, const StartedProgram& program) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  return std::string(stamp) + " started " + ce::win32::utf8Of(program.app) + " (pid " +
         std::to_string(program.processId) + ")";
}

// Milliseconds from `now` until `due`, rounded up, within [0, longestSleepMs].
DWORD sleepBefore(const SYSTEMTIME& now, const SYSTEMTIME& due) {
  long long from, to;
  if (!ticksOf(now, from) || !ticksOf(due, to)) return 0;
  long long ms = (to - from + ticksPerMillisecond - 1) / ticksPerMillisecond;
  return static_cast<DWORD>(std::clamp<long long>(ms, 0, longestSleepMs));
}

// The process's wake event: lives as long as the process, since a console control handler
// may set it at any moment.
HANDLE wakeEvent() {
  static HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return event;
}

}  // namespace

std::vector<Request> pendingRequests() {
  return requestsDueBy(std::numeric_limits<long long>::max());
}

std::vector<Request> dueRequests(const SYSTEMTIME& now) { return requestsDueBy(ticksOrThrow(now)); }

bool claimRequest(const Request& request) {
  bool removed = false;
  check(store::removeExactly(request.app, ticksOrThrow(request.due), removed));
  return removed;
}

Pass startDueRequests(const SYSTEMTIME& now) {
  Pass pass;
  reapPrograms();
  try {
    for (const Request& request : dueRequests(now)) {
      if (!claimRequest(request)) continue;
      if (auto pid = startProgram(request))
        pass.started.push_back(StartedProgram{request.app, request.due, *pid});
    }
    long long earliest = 0;
    bool found = false;
    check(store::earliestDue(earliest, found));
    if (found) {
      SYSTEMTIME due;
      if (!timeOf(earliest, due)) throw StoreError("notify.db: impossible time stored");
      pass.nextDue = due;
    }
  } catch (const StoreError& e) {
    pass.storeError = e.what();
  }
  return pass;
}

void wakeScheduler() noexcept {
  if (HANDLE event = wakeEvent()) SetEvent(event);
}

int runScheduler(std::atomic<bool>& stop, std::function<void(const std::string& line)> report) {
  std::wstring name;
  HANDLE changed = nullptr;
  if (store::changeEventName(name) == ERROR_SUCCESS)
    changed = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  HANDLE woken = wakeEvent();
  if (!changed || !woken) {
    std::fprintf(stderr, "scheduler: cannot watch notify.db: error %lu\n",
                 static_cast<unsigned long>(GetLastError()));
    if (changed) CloseHandle(changed);
    return 1;
  }
  const HANDLE events[] = {changed, woken};
  std::string lastError;  // a store that stays broken is reported once, not every second
  while (!stop.load()) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    Pass pass = startDueRequests(now);
    for (const StartedProgram& program : pass.started)
      if (report) report(startLine(now, program));
    if (pass.storeError != lastError) {
      std::fprintf(stderr, "scheduler: %s\n",
                   pass.storeError.empty() ? "notify.db usable again" : pass.storeError.c_str());
      std::fflush(stderr);
      lastError = pass.storeError;
    }
    DWORD sleepMs = longestSleepMs;
    if (!pass.storeError.empty())
      sleepMs = retryMs;
    else if (pass.nextDue)
      sleepMs = sleepBefore(now, *pass.nextDue);
    if (stop.load()) break;
    WaitForMultipleObjects(2, events, FALSE, sleepMs);
  }
  CloseHandle(changed);
  return 0;
}

}  // namespace ce::notify
