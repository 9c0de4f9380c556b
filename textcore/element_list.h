// ElementList: a singly linked list that owns clones of what is put into it.
#pragma once

#include "textcore/array_element.h"

class ElementList {
 public:
  ElementList();
  // clones every element of `other`, in order
  ElementList(const ElementList& other);
  ElementList& operator=(const ElementList& other);
  ~ElementList();

  // stores a clone at `index` (clipped to size()); the position used, or -1 for a negative
  // index or a clone that could not be made
  int insertAt(int index, const ArrayElement& element);
  int add(const ArrayElement& element);

  // the stored element, still owned by the list; null outside 0..size()-1
  ArrayElement* get(int index) const;
  int size() const { return count; }

  // iteration: front() starts over, next() moves on; after the end, next() starts over again
  ArrayElement* front();
  ArrayElement* next();

  void clear();

 private:
  struct Node {
    ArrayElement* element;
    Node* next;
  };

  Node* head;
  Node* last;
  Node* cursor;  // the node front()/next() returned last; null before and after iteration
  int count;
};
