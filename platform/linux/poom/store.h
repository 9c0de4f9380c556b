// pim.db: the items of the three PIM folders and the folder subscriptions of windows.
// Platform-internal; tools reach it through platform/pimstore.h, the listener through the
// COM objects of application.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pimstore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ce::poom {

enum class Change { created, deleted, changed };

struct Subscriber {
  long long window;  // the HWND as stored
  DWORD mode;
  int pid;
  unsigned long long started;  // the subscriber's process start time (ProcessIdentity); 0: unknown
};

// What one committed change must tell its subscribers.
struct CommittedChange {
  Change kind = Change::changed;
  DWORD oid = 0;
  int folder = 0;
  std::vector<Subscriber> subscribers;  // of the item's folder, read in the same transaction
};

bool isPimFolder(int folder);

class Store {
 public:
  // Opens `path`, creating an empty store when the file is missing or empty. Returns null
  // with the reason in `error` when it cannot; a file that is not a PIM store is left as it is.
  static std::unique_ptr<Store> open(const std::string& path, std::string& error);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  pim::Result addItem(int folder, const std::string& subject, CommittedChange& change);
  pim::Result changeItem(DWORD oid, const std::optional<std::string>& subject,
                         CommittedChange& change);
  pim::Result deleteItem(DWORD oid, CommittedChange& change);
  pim::Result listItems(int folder, std::vector<pim::Item>& items);
  // Every subscription; `subscribers`, when given, receives the same rows as stored.
  pim::Result listSubscriptions(std::vector<pim::Subscription>& subscriptions,
                                std::vector<Subscriber>* subscribers = nullptr);
  pim::Result changeToken(int folder, long long& token);

  // Records that `window` (of process `pid`, started at `started`) wants `mode` changes of
  // `folder`; mode 0 ends it.
  pim::Result subscribe(long long window, int folder, DWORD mode, int pid,
                        unsigned long long started);
  // Ends every subscription of these windows (Logoff, or windows found gone).
  pim::Result endSubscriptions(const std::vector<long long>& windows);

  // Gives back the pages SQLite caches; the next reads take them from the file again.
  void releaseMemory();

 private:
  enum Sql : int;
  class Transaction;

  explicit Store(sqlite3* db);
  pim::Result prepareSchema();
  bool hasStartedColumn();
  pim::Result addStartedColumn();
  sqlite3_stmt* statement(Sql which, pim::Result& result);
  pim::Result failure(const char* doing) const;
  bool raiseChangeToken(int folder, pim::Result& result);
  bool readSubscribers(int folder, std::vector<Subscriber>& subscribers, pim::Result& result);
  long long nextModified(long long previous) const;

  sqlite3* db_;
  std::vector<sqlite3_stmt*> statements_;
};

}  // namespace ce::poom
