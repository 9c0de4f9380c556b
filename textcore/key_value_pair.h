// KeyValuePair: the element type of a StringMap.
#pragma once

#include "textcore/array_element.h"
#include "textcore/string_buffer.h"

class KeyValuePair : public ArrayElement {
 public:
  // null key or value stays the null value
  KeyValuePair(const char* key = nullptr, const char* value = nullptr);
  KeyValuePair(const KeyValuePair& other) = default;
  KeyValuePair& operator=(const KeyValuePair& other) = default;
  ~KeyValuePair() override;

  ArrayElement* clone() const override;

  StringBuffer key;
  StringBuffer value;
};
