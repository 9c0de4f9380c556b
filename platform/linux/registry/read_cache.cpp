#include "platform/linux/registry/read_cache.h"

namespace ce::registry {

namespace {

// A process reads a handful of settings over and over; a walk over many keys is read again
// rather than held.
constexpr size_t mostKept = 256;

// The comparison keys of `names`, each preceded by its length, so that no two paths share one.
std::string pathKey(const std::vector<StoredName>& names) {
  std::string path;
  for (const StoredName& name : names) {
    path += std::to_string(name.key.size());
    path += ':';
    path += name.key;
  }
  return path;
}

}  // namespace

bool ReadCache::holds(const Header& now) {
  if (at_ && *at_ == now) return true;
  clear();
  return false;
}

void ReadCache::makeRoomUnder(const Header& at) {
  if (!at_ || *at_ != at || keys_.size() + values_.size() >= mostKept) clear();
  at_ = at;
}

std::optional<long long> ReadCache::key(long long base, const std::vector<StoredName>& names,
                                        const Header& now) {
  if (!holds(now)) return std::nullopt;
  auto it = keys_.find({base, pathKey(names)});
  if (it == keys_.end()) return std::nullopt;
  return it->second;
}

const StoredValue* ReadCache::value(long long key, const StoredName& name, const Header& now) {
  if (!holds(now)) return nullptr;
  auto it = values_.find({key, name.key});
  return it == values_.end() ? nullptr : &it->second;
}

void ReadCache::keepKey(long long base, const std::vector<StoredName>& names, const Header& at,
                        long long key) {
  makeRoomUnder(at);
  keys_[{base, pathKey(names)}] = key;
}

void ReadCache::keepValue(long long key, const StoredName& name, const Header& at,
                          const StoredValue& value) {
  makeRoomUnder(at);
  values_[{key, name.key}] = value;
}

void ReadCache::clear() {
  at_.reset();
  keys_.clear();
  values_.clear();
}

}  // namespace ce::registry
