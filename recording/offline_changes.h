// What the listener remembers of its sources between runs, so that a change made while it
// was not running (stopped, killed, crashed) is recorded when it starts again.
//
// Registry values of the listener's node, beside "clientPushList":
//   "clientPushSeenContacts", "clientPushSeenCalendar", "clientPushSeenTasks": the PIM
//     store's change token of that folder when the listener last recorded it or started;
//   "clientPushSeenBriefcase", "clientPushSeenNotes", "clientPushSeenPictures": the folder's
//     summary (recording/folder_summary.h) when the listener last started or cleanly stopped.
// A remembered state is never newer than what has been recorded: it may be older, which
// costs one extra synchronisation, never a missed one.
#pragma once

#include <cstdint>

class ClientPush;

// Called inside the registry transaction that records a change of the source: the PIM
// source's current token becomes the remembered one, unless the source is suspended (its
// change was not recorded). Folder sources keep their summary: re-listing a folder per
// change would cost too much, and an older summary only over-reports.
void rememberRecordedState(ClientPush* clientPush, int32_t sourceId);

// At start-up, once every source is subscribed (a later change arrives as a message):
// records each source that differs from what was remembered exactly as a live change, logs
// one INFO line naming them, and remembers what it found. A source with nothing remembered
// is only remembered.
void recordChangesWhileStopped(ClientPush* clientPush);

// At a clean shutdown, while the folders are still watched: remembers each folder's current
// summary, unless a change of that folder is still waiting to be handled.
void rememberFolderSummaries(ClientPush* clientPush);
