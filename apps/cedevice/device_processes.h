// The processes of a booted device (the boot supervisor, the scheduler and the listener) as
// the device tool knows them across its own runs: by records in run/ that a reused pid cannot
// match, and by whether the listener can take messages.
#pragma once

#include <string>

#include "platform/linux/process.h"

namespace cedevice {

// Roles, also the names of the records: run/<role>.pid.
extern const char* const bootRole;
extern const char* const schedulerRole;
extern const char* const listenerRole;

void recordProcess(const char* role, const ce::ProcessIdentity& identity);
void forgetProcess(const char* role);
// The recorded process while it is still the one recorded; an invalid handle otherwise.
ce::Process findRecorded(const char* role);

// Asks the process to end and waits up to graceMs; then kills it. True once it has ended.
bool stopProcess(ce::Process& process, int graceMs);

// Ends the scheduler and listener that a boot supervisor which died left behind, and clears
// their records. Only for a caller that holds the boot lock or found it free.
void endLeftovers();

// Clears what processes of the device that died left behind: their sockets and window files in
// run/ and the PIM subscriptions of their windows. For a boot holding the boot lock.
void removeWhatDeadProcessesLeft();

// Why the listener of this pid cannot serve the device (no live window of its class, a
// message to it fails, its PIM subscriptions are missing), or "" when it can.
std::string whyListenerCannotServe(int listenerPid);

}  // namespace cedevice
