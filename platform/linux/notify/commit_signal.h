// The scheduler's wake-up after a committed change of the run-at-time table.
// Platform-internal.
//
// SQLite writes the log (notify.db-wal) before the commit is published to readers, so a
// watcher woken by that write may read too early. A writer therefore touches this marker once
// its commit has returned. The scheduler wakes on both: after a write to the log it first
// waits for the writer's lock, so that it never depends on a marker that may not come.
#pragma once

namespace ce::notify {

// File name of the marker, in system/ next to notify.db.
inline constexpr const char* commitMarkerName = "notify.committed";

// Tells any scheduler of this device that the request for `app` is committed. Never fails
// the caller: a marker that cannot be touched is reported to the process's receiver
// (setWakeFailureReceiver), once per streak.
void signalCommit(const wchar_t* app) noexcept;

}  // namespace ce::notify
