// Child processes for the tests that run on both platforms: forked on Linux, the test program
// started again on Windows. Tests of the Linux platform itself use tests/platform/ directly.
#pragma once

#ifdef _WIN32
#include "tests/windows/child_processes_windows.h"
#else
#include "tests/platform/child_processes.h"
#endif
