// ElementList: linking, lookup and iteration over owned clones.
#include "textcore/element_list.h"

#include <memory>

ElementList::ElementList() : head(nullptr), last(nullptr), cursor(nullptr), count(0) {}

ElementList::ElementList(const ElementList& other) : ElementList() {
  for (Node* node = other.head; node; node = node->next) add(*node->element);
}

ElementList& ElementList::operator=(const ElementList& other) {
  if (this == &other) return *this;
  clear();
  for (Node* node = other.head; node; node = node->next) add(*node->element);
  return *this;
}

ElementList::~ElementList() { clear(); }

int ElementList::insertAt(int index, const ArrayElement& element) {
  if (index < 0) return -1;
  if (index > count) index = count;
  std::unique_ptr<ArrayElement> copy(element.clone());
  if (!copy) return -1;
  Node* node = new Node{copy.get(), nullptr};
  copy.release();
  if (index == 0) {
    node->next = head;
    head = node;
    if (!last) last = node;
  } else if (index == count) {
    last->next = node;
    last = node;
  } else {
    Node* before = head;
    for (int i = 1; i < index; ++i) before = before->next;
    node->next = before->next;
    before->next = node;
  }
  ++count;
  return index;
}

int ElementList::add(const ArrayElement& element) { return insertAt(count, element); }

ArrayElement* ElementList::get(int index) const {
  if (index < 0 || index >= count) return nullptr;
  Node* node = head;
  for (int i = 0; i < index; ++i) node = node->next;
  return node->element;
}

ArrayElement* ElementList::front() {
  cursor = head;
  return cursor ? cursor->element : nullptr;
}

ArrayElement* ElementList::next() {
  cursor = cursor ? cursor->next : head;
  return cursor ? cursor->element : nullptr;
}

void ElementList::clear() {
  for (Node* node = head; node;) {
    Node* following = node->next;
    delete node->element;
    delete node;
    node = following;
  }
  head = last = cursor = nullptr;
  count = 0;
}
