// The stores' files: never opened through a link, and a store that cannot be read named
// with its cause. (Their modes are the device home's test, end to end.)
#include <filesystem>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/stores.h"
#include "tests/support/device_test.h"

namespace {

namespace fs = std::filesystem;
using StoreFileTest = ce::test::DeviceTest;

TEST_F(StoreFileTest, AStoreReachedThroughALinkIsRefusedAndItsTargetUntouched) {
  const std::string outside = home() + "/outside.db";
  ce::test::writeFile(outside, "");
  fs::create_symlink(outside, ce::systemDir() + "/pim.db");
  sqlite3* db = nullptr;
  EXPECT_EQ(ce::sqlite::openStore(ce::systemDir() + "/pim.db", &db), SQLITE_CANTOPEN);
  EXPECT_EQ(db, nullptr);
  EXPECT_EQ(fs::file_size(outside), 0u);
  EXPECT_EQ(ce::storeProblem(ce::pimStoreName), "is a symbolic link");
}

TEST_F(StoreFileTest, AStoreThatCannotBeReadIsNamedWithItsCauseAndLeftAsItIs) {
  // (Junk, "file is not a database", is DeviceHomeProcessTest's, through every command.)
  EXPECT_EQ(ce::storeProblem(ce::notifyStoreName), "");  // not made yet: nothing wrong
  fs::create_directory(ce::systemDir() + "/registry.db");
  EXPECT_EQ(ce::storeProblem(ce::registryStoreName), "not a regular file");

  sqlite3* db = nullptr;
  ASSERT_EQ(ce::sqlite::openStore(ce::systemDir() + "/pim.db", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_EQ(ce::storeProblem(ce::pimStoreName), "");
}

}  // namespace
