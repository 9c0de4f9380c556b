#include "textcore/key_value_pair.h"

#include <new>

KeyValuePair::KeyValuePair(const char* k, const char* v) : key(k), value(v) {}

KeyValuePair::~KeyValuePair() {}

ArrayElement* KeyValuePair::clone() const { return new (std::nothrow) KeyValuePair(*this); }
