#include "textcore/string_map.h"

#include <new>

StringMap::~StringMap() { list.clear(); }

ArrayElement* StringMap::clone() const { return new (std::nothrow) StringMap(*this); }

int StringMap::indexOf(const char* key) {
  int index = 0;
  for (ArrayElement* e = list.front(); e; e = list.next(), ++index)
    if (static_cast<KeyValuePair*>(e)->key.equals(key)) return index;
  return -1;
}

bool StringMap::put(const char* key, const char* value) {
  if (!key || !value) return false;
  int index = indexOf(key);
  if (index >= 0) {
    static_cast<KeyValuePair*>(list.get(index))->value.assign(value);
    return false;
  }
  list.add(KeyValuePair(key, value));
  return true;
}
