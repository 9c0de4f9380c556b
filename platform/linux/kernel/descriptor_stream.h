// A stdio stream over a descriptor whose flags the caller set itself. Internal to the kernel
// layer.
#pragma once

#include <cstdio>

namespace ce::kernel {

// A stream in `mode` ("r", "w", "a", each with or without "+") that reads, writes, seeks and
// closes `fd`; it owns `fd` from then on, closing it when the stream cannot be made.
FILE* streamOverDescriptor(int fd, const char* mode);

}  // namespace ce::kernel
