// The time stamps of the log: "14:05:09 GMT +1:00", with the date for the header.
#pragma once

#include <cstddef>

#include "textcore/string_buffer.h"

// Writes the stamp into out (64 bytes always suffice) and returns out.
char* formatTimestamp(char* out, size_t room, bool withDate);
StringBuffer makeTimestamp(bool withDate);
