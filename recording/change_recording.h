// Recording a change in "clientPushList" and scheduling the launcher after it.
#pragma once

#include <cstdint>

class ClientPush;

// The longest "clientPushInterval" in either direction, one year; a stored value beyond it
// is clamped with an ERROR line.
inline constexpr int32_t maxPushIntervalMinutes = 525600;

// Marks the source in "clientPushList", then schedules the launcher, unless the source is
// suspended; an unknown sourceId writes the list back unchanged. A list that cannot be
// written, or a start that cannot be requested, is kept in clientPush->unrecorded (one ERROR
// line per streak) and tried again with the next change or retryUnrecordedChanges.
void setPIMModifications(ClientPush* clientPush, int32_t sourceId);
// Whether an earlier change still waits to be written or scheduled.
bool hasUnrecordedChanges(const ClientPush* clientPush);
// Tries again what earlier changes left undone; nothing when nothing waits.
void retryUnrecordedChanges(ClientPush* clientPush);
// Asks the platform to start the launcher pushInterval minutes from now; true when accepted.
// The last error is the platform's.
bool scheduleNextSync(ClientPush* clientPush);
// Reads "path" and "clientPushInterval" once at start-up.
void loadPushConfig(ClientPush* clientPush);
// The ERROR line for a start that was requested but whose wake-up of the scheduler failed;
// the process hands it to the platform (ce::notify::setWakeFailureReceiver).
void reportSchedulerNotWoken(const wchar_t* app, const char* reason);
