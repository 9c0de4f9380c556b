// The Windows test programs' main: GoogleTest's own, without its banner, which every child
// process (child_processes_windows.h) would print again.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
