// Keys found and values read from the registry, kept for as long as no commit has been made
// visible since. Platform-internal: the Store decides when the cache may answer.
//
// A burst of changes reads the same list and opens the same key for every change, and each
// read through SQLite takes and drops the WAL index's read lock (two fcntl calls) around a
// few statements: more than the rest of a change that finds its bit set already. A kept
// answer is tagged with the index header it was read under, and given only while the header
// is still that one, so it is exactly what SQLite would read at that moment; any commit, by
// any process or tool, publishes a new header and empties the cache.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/registry/key_names.h"
#include "platform/linux/registry/value_data.h"
#include "platform/linux/sqlite/published_state.h"

namespace ce::registry {

class ReadCache {
 public:
  using Header = ce::sqlite::PublishedHeader;

  // The key at `names` below `base`, as read under `now`.
  std::optional<long long> key(long long base, const std::vector<StoredName>& names,
                               const Header& now);
  // The value `name` of `key`, as read under `now`; null when not kept.
  const StoredValue* value(long long key, const StoredName& name, const Header& now);

  void keepKey(long long base, const std::vector<StoredName>& names, const Header& at,
               long long key);
  void keepValue(long long key, const StoredName& name, const Header& at,
                 const StoredValue& value);
  void clear();

 private:
  // False (and emptied) when what is kept was read under another header than `now`.
  bool holds(const Header& now);
  // Begins again under `at` when what is kept is of another header, or grew past its bound.
  void makeRoomUnder(const Header& at);

  std::optional<Header> at_;
  std::map<std::pair<long long, std::string>, long long> keys_;
  std::map<std::pair<long long, std::string>, StoredValue> values_;
};

}  // namespace ce::registry
