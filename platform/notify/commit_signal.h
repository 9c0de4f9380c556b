// The scheduler's wake-up after a committed change of the run-at-time table.
// Platform-internal.
//
// SQLite writes the log (notify.db-wal) before the commit is published to readers, so a
// watcher woken by that write may read too early and then sleep with a request pending.
// A writer therefore touches this marker once its commit has returned, and the scheduler
// wakes on the marker alone.
#pragma once

namespace ce::notify {

// File name of the marker, in system/ next to notify.db.
inline constexpr const char* commitMarkerName = "notify.committed";

// Tells any scheduler of this device that a commit is visible now. Never fails the caller:
// a marker that cannot be touched leaves the scheduler to its longest sleep.
void signalCommit() noexcept;

}  // namespace ce::notify
