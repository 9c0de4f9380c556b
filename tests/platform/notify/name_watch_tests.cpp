// The watch that spares the device's stores a stat of their files per operation.
#include "platform/linux/sqlite/name_watch.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string temporaryFolder() {
  char pattern[] = "/tmp/name-watch-XXXXXX";
  return mkdtemp(pattern);
}

// Catches a watch that misses a rename over the name (the way a store is replaced), a
// removal, or a creation, and one that reports each change more than once.
TEST(NameWatch, SeesItsNamesMadeReplacedAndRemovedOnce) {
  std::string folder = temporaryFolder();
  ce::sqlite::NameWatch watch(folder, {"s.db", "s.db-wal"});
  EXPECT_FALSE(watch.changed());
  std::ofstream(folder + "/s.db") << "x";
  EXPECT_TRUE(watch.changed());
  EXPECT_FALSE(watch.changed());
  std::ofstream(folder + "/new") << "y";
  fs::rename(folder + "/new", folder + "/s.db");
  EXPECT_TRUE(watch.changed());
  std::ofstream(folder + "/s.db-wal") << "z";
  (void)watch.changed();
  fs::remove(folder + "/s.db-wal");
  EXPECT_TRUE(watch.changed());
  fs::remove_all(folder);
}

// Catches a watch woken by every file of a busy folder (the registry's live beside the
// store) reporting them as the store's.
TEST(NameWatch, OtherNamesInTheFolderAreNotItsChanges) {
  std::string folder = temporaryFolder();
  ce::sqlite::NameWatch watch(folder, {"s.db"});
  std::ofstream(folder + "/s.db.other") << "x";
  std::ofstream(folder + "/registry.db-wal") << "x";
  fs::remove(folder + "/registry.db-wal");
  EXPECT_FALSE(watch.changed());
  fs::remove_all(folder);
}

// Catches a names-only watch (the registry's) that misses a rename over its name, or one
// woken by every write of the file, which costs the writer a stat per commit.
TEST(NameWatch, ANamesOnlyWatchSeesReplacementsButNotWrites) {
  std::string folder = temporaryFolder();
  std::ofstream(folder + "/s.db") << "x";
  ce::sqlite::NameWatch watch(folder, {"s.db"}, ce::sqlite::NameWatch::Sees::namesOnly);
  std::ofstream(folder + "/s.db", std::ios::app) << "more";
  EXPECT_FALSE(watch.changed());
  std::ofstream(folder + "/new") << "y";
  fs::rename(folder + "/new", folder + "/s.db");
  EXPECT_TRUE(watch.changed());
  fs::remove(folder + "/s.db");
  EXPECT_TRUE(watch.changed());
  fs::remove_all(folder);
}

// Catches a watch that goes quiet for good once its folder is gone (a device home made
// again), or one that was never set up passing for one that saw nothing.
TEST(NameWatch, AFolderGoneOrUnwatchableAlwaysCountsAsChanged) {
  std::string folder = temporaryFolder();
  ce::sqlite::NameWatch watch(folder, {"s.db"});
  fs::remove_all(folder);
  EXPECT_TRUE(watch.changed());
  fs::create_directory(folder);
  EXPECT_TRUE(watch.changed());
  EXPECT_TRUE(watch.changed());
  fs::remove_all(folder);
  ce::sqlite::NameWatch none(folder + "/missing", {"s.db"});
  EXPECT_TRUE(none.changed());
  ce::sqlite::NameWatch unset;
  EXPECT_TRUE(unset.changed());
}

}  // namespace
