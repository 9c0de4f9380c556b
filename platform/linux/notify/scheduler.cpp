// The scheduler: lists requests, claims and starts the due ones, and sleeps until the next.
//
// A due request is claimed (its row deleted while it still holds the time we read) before
// its program starts. A request that another process replaced meanwhile is then not claimed
// and stays pending for its new time; two schedulers of one device never start the same
// request twice. The price is that a scheduler killed between claim and start loses that one
// start, which the next change's request makes good.
#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/notify.h"
#include "platform/linux/notify/app_key.h"
#include "platform/linux/notify/change_watcher.h"
#include "platform/linux/notify/request_store.h"
#include "platform/linux/notify/time_ticks.h"

namespace ce::notify {

namespace {

// The longest sleep: a clock set forward, or a change of daylight saving time, is noticed
// within this.
constexpr int longestSleepMs = 60000;
// After a store failure the loop tries again after this, never faster.
constexpr int retryMs = 1000;

void check(const store::Result& result) {
  if (!result.ok()) throw StoreError(result.message);
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
    Request request{ce::widenFileName(row.app), {}};
    // The table refuses times outside the calendar, so this only fails on a foreign row.
    if (!timeOf(row.due, request.due)) throw StoreError("notify.db: impossible time stored");
    requests.push_back(std::move(request));
  }
  return requests;
}

std::string startLine(const SYSTEMTIME& now, const StartedProgram& program) {
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  return std::string(stamp) + " started " + ce::fileNameForMessage(program.app) + " (pid " +
         std::to_string(program.processId) + ")";
}

// Milliseconds from `now` until `due`, rounded up, within [0, longestSleepMs].
int sleepBefore(const SYSTEMTIME& now, const SYSTEMTIME& due) {
  long long from, to;
  if (!ticksOf(now, from) || !ticksOf(due, to)) return 0;
  long long ms = (to - from + ticksPerMillisecond - 1) / ticksPerMillisecond;
  return static_cast<int>(std::clamp<long long>(ms, 0, longestSleepMs));
}

}  // namespace

std::vector<Request> pendingRequests() {
  return requestsDueBy(std::numeric_limits<long long>::max());
}

std::vector<Request> dueRequests(const SYSTEMTIME& now) { return requestsDueBy(ticksOrThrow(now)); }

bool claimRequest(const Request& request) {
  std::string key;
  if (!ce::narrowFileName(appKeyOf(request.app), key))
    throw std::invalid_argument("program path cannot be stored");
  bool removed = false;
  check(store::removeExactly(key, ticksOrThrow(request.due), removed));
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

int runScheduler(std::atomic<bool>& stop, std::function<void(const std::string& line)> report) {
  std::optional<ChangeWatcher> watcher;
  try {
    watcher.emplace();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scheduler: %s\n", e.what());
    return 1;
  }
  std::string lastError;  // a store that stays broken is reported once, not every second
  // A writer wrote the log: until it is known to have finished, a pass may not see its commit.
  bool writerToAwait = false;
  while (!stop.load()) {
    std::string awaitError;
    if (writerToAwait) {
      store::Result awaited = store::awaitWriters();
      writerToAwait = !awaited.ok();
      awaitError = awaited.message;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    Pass pass = startDueRequests(now);
    if (pass.storeError.empty()) pass.storeError = awaitError;
    for (const StartedProgram& program : pass.started)
      if (report) report(startLine(now, program));
    if (pass.storeError != lastError) {
      std::fprintf(stderr, "scheduler: %s\n",
                   pass.storeError.empty() ? "notify.db usable again" : pass.storeError.c_str());
      std::fflush(stderr);
      lastError = pass.storeError;
    }
    int sleepMs = -1;
    if (!pass.storeError.empty()) {
      sleepMs = retryMs;
    } else if (pass.nextDue) {
      sleepMs = sleepBefore(now, *pass.nextDue);
    }
    if (stop.load()) break;
    try {
      writerToAwait |= watcher->wait(sleepMs) == ChangeWatcher::Wake::logWritten;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "scheduler: %s\n", e.what());
      return 1;
    }
  }
  return 0;
}

}  // namespace ce::notify
