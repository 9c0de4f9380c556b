// Run-at-time: CeRunAppAtTime, and the scheduler that starts due programs.
//
// Requests live in the device's system folder (notify.db), one per program: a new request for
// a program replaces its earlier one, so a burst of requests ends in one start. The scheduler
// (run by the device tool on Linux, by cescheduler.exe on Windows) starts each program when
// its local time comes, with no arguments and the device home in its environment.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/windows.h"

// Asks the device to start the program at device path `appName` at local time `time` (a time
// still to come is kept to the whole second, milliseconds dropped), replacing any earlier request for the same program
// (paths compare without regard to case); asking again for the request already pending
// writes nothing; a null `time` removes the request. FALSE with the last error set on failure:
// ERROR_INVALID_PARAMETER (no path, an empty path or an impossible time),
// ERROR_FILENAME_EXCED_RANGE (MAX_PATH characters or more), ERROR_INVALID_NAME (".." or a
// name that cannot be stored), ERROR_SHARING_VIOLATION (the store stayed locked by another
// process past a bounded wait), ERROR_ACCESS_DENIED (the store cannot be opened),
// ERROR_BADDB (the store is damaged or of a newer format), ERROR_CANTWRITE (the commit
// failed).
BOOL CeRunAppAtTime(LPCWSTR appName, const SYSTEMTIME* time);

namespace ce::notify {

// How long a request waits for a store that another process keeps locked.
constexpr int storeBusyTimeoutMs = 1000;

// The store could not be read or changed; the message says why. Stored data is intact.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Request {
  std::wstring app;  // device path, as given to CeRunAppAtTime
  SYSTEMTIME due;    // local time; wDayOfWeek is filled in
};

struct StartedProgram {
  std::wstring app;
  SYSTEMTIME due;
  DWORD processId;
};

struct Pass {
  std::vector<StartedProgram> started;
  std::optional<SYSTEMTIME> nextDue;  // earliest request still pending, if any
  std::string storeError;             // empty unless the store failed part way
};

// Told, on the requesting thread, that a request was stored but the scheduler could not be
// woken for it, and why ("cannot touch system/notify.committed: ..."). The request stands:
// the scheduler also wakes on the store's log and finds it all the same. Called once per
// streak of failures; with no receiver set the reason goes to standard error.
using WakeFailureReceiver = void (*)(const wchar_t* app, const char* reason);
void setWakeFailureReceiver(WakeFailureReceiver receiver);

// Every pending request, earliest first. Throws StoreError.
std::vector<Request> pendingRequests();

// Requests due at `now` or before, earliest first. Throws StoreError, and
// std::invalid_argument for an impossible `now`.
std::vector<Request> dueRequests(const SYSTEMTIME& now);

// Removes exactly this request (same program, same time); false when it is gone or was
// replaced by a newer request meanwhile, which is then kept. Throws StoreError.
bool claimRequest(const Request& request);

// Starts the program of a claimed request without waiting for it: its host path, no
// arguments, CE_DEVICE_HOME set, stdout and stderr appended to <home>/run/<file name>.out.
// A program that cannot be started gets one line on standard error; nullopt then.
std::optional<DWORD> startProgram(const Request& request);

// One scheduler step at local time `now`: claims and starts every due request and says when
// the next one is due. A store failure ends the step early with `storeError` set; what was
// started is still reported and requests not yet claimed stay pending.
Pass startDueRequests(const SYSTEMTIME& now);

// Reaps started programs that have ended; returns how many are still running.
size_t reapPrograms();

// Wakes the process's sleeping scheduler loop so that it checks its stop flag. Safe in a
// signal handler and from any thread. One scheduler loop per process.
void wakeScheduler() noexcept;

// The scheduler loop: starts every overdue request at once, then each request within a
// second of its time (woken by the writer once its request is committed), and calls `report`
// with one line per start ("YYYY-MM-DD HH:MM:SS started <device path> (pid N)"). Returns 0 once `stop` is set and
// the loop woken (wakeScheduler() or a signal to the loop's thread); 1 when it cannot watch
// the store. Store failures are written to standard error and retried.
int runScheduler(std::atomic<bool>& stop, std::function<void(const std::string& line)> report);

}  // namespace ce::notify
