// The polymorphic base of everything an ElementList can hold.
#pragma once

class ArrayElement {
 public:
  virtual ~ArrayElement() {}

  // a new heap copy of the same dynamic type, owned by the caller; null when out of memory
  virtual ArrayElement* clone() const = 0;
};
