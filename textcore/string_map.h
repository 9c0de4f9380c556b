// StringMap: text keys to text values, in insertion order, keys unique.
#pragma once

#include "textcore/array_element.h"
#include "textcore/element_list.h"
#include "textcore/key_value_pair.h"

class StringMap : public ArrayElement {
 public:
  StringMap() = default;
  StringMap(const StringMap& other) = default;
  StringMap& operator=(const StringMap& other) = default;
  ~StringMap() override;

  ArrayElement* clone() const override;

  // index of the pair whose key equals `key` (a null key matches a null key), or -1;
  // moves the list's cursor
  int indexOf(const char* key);
  // true when a new pair was added; an existing key gets the new value and gives false;
  // a null key or value changes nothing and gives false
  bool put(const char* key, const char* value);

  // the KeyValuePair elements, in insertion order
  const ElementList& pairs() const { return list; }

 private:
  ElementList list;
};
