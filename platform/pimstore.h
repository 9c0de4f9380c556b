// The device's PIM store as tools and tests change it: items of the Calendar, Contacts and
// Tasks folders. Every change is one durable commit to <home>/system/pim.db, after which the
// windows subscribed to the item's folder are notified: PIM_ITEM_*_REMOTE to the windows of
// other processes that asked for remote changes, PIM_ITEM_*_LOCAL to this process's own
// windows that asked for local ones (wParam = object id, lParam = folder id).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace ce::pim {

enum class Status {
  ok,
  noSuchItem,   // no item has this object id
  badFolder,    // a folder other than 9 (calendar), 10 (contacts), 13 (tasks)
  badSubject,   // not UTF-8, contains a NUL character, or longer than maxSubjectBytes
  storeFailed,  // pim.db cannot be opened, is not a PIM store, or the commit failed
};

// Far above any real subject; keeps one item from bloating the store.
inline constexpr std::size_t maxSubjectBytes = 1024 * 1024;

struct Result {
  Status status = Status::ok;
  std::string message;  // why it failed, for people; empty on success
  // Notifications that could not be posted although their window exists (its queue stayed
  // full). The change itself is committed.
  int undelivered = 0;
  explicit operator bool() const { return status == Status::ok; }
};

struct Item {
  DWORD oid;
  int folder;
  std::string subject;  // UTF-8
  FILETIME modified;    // device local time; strictly increases with every change
};

struct Subscription {
  HWND window;
  int folder;
  DWORD mode;  // PIMFOLDERNOTIFICATION_* bits
  int pid;     // the process that subscribed
};

Result addItem(int folder, const std::string& subject, DWORD& oid);
// Without a subject only the modification time moves (a change of some other field).
Result changeItem(DWORD oid, const std::optional<std::string>& subject = std::nullopt);
Result deleteItem(DWORD oid);
// Items in object-id order; folder 0 lists every folder.
Result listItems(std::vector<Item>& items, int folder = 0);
Result listSubscriptions(std::vector<Subscription>& subscriptions);
// Ends the subscriptions of windows that are gone, with their process or before it (a process
// killed never logs off); `ended` receives them.
Result endSubscriptionsOfGoneWindows(std::vector<Subscription>& ended);
// The folder's change token: raised by every committed add, change and delete of an item in
// that folder, in the same transaction, and never lowered; 0 for a folder never changed.
Result readChangeToken(int folder, long long& token);

}  // namespace ce::pim
