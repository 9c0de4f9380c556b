// pim.db on Windows: the items of the three PIM folders, their change tokens and the folder
// subscriptions of windows. Platform-internal; tools reach it through platform/pimstore.h,
// the listener through the COM objects of application.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/pimstore.h"

namespace ce::poom {

enum class Change { created, deleted, changed };

struct Subscriber {
  long long window;  // the HWND as stored
  int folder;
  DWORD mode;
  int pid;
  unsigned long long started;  // the subscriber's process creation time, FILETIME ticks
};

// What one committed change must tell its subscribers.
struct CommittedChange {
  Change kind = Change::changed;
  DWORD oid = 0;
  int folder = 0;
  std::vector<Subscriber> subscribers;  // of the item's folder, read under the same lock
};

bool isPimFolder(int folder);

// Each operation locks the store, reads it, and for a change writes it back whole before it
// returns.
pim::Result addItem(int folder, const std::string& subject, CommittedChange& change);
pim::Result changeItem(DWORD oid, const std::optional<std::string>& subject,
                       CommittedChange& change);
pim::Result deleteItem(DWORD oid, CommittedChange& change);
pim::Result listItems(int folder, std::vector<pim::Item>& items);
pim::Result listSubscribers(std::vector<Subscriber>& subscribers);
pim::Result changeToken(int folder, long long& token);
// Opens the store as Logon does: creates it when missing, fails when it cannot be read.
pim::Result openStore();
// Records that `window` (of process `pid`, created at `started`) wants `mode` changes of
// `folder`; mode 0 ends it.
pim::Result subscribe(long long window, int folder, DWORD mode, int pid,
                      unsigned long long started);
// Ends every subscription of these windows (Logoff, or windows found gone).
pim::Result endSubscriptions(const std::vector<long long>& windows);

}  // namespace ce::poom
