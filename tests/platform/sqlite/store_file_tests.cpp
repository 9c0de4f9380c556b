// The stores' files: never opened through a link, and a store that cannot be read named
// with its cause. (Their modes are the device home's test, end to end.)
#include <filesystem>
#include <string>

#include "platform/linux/device.h"
#include "platform/linux/sqlite/open_store.h"
#include "platform/linux/stores.h"
#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

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

  // A store a writer holds locked (here another connection, whose lock SQLite enforces as
  // another process's) is in use, not broken: nothing to name.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(ce::systemDir().append("/pim.db").c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder,
                         "PRAGMA journal_mode=DELETE; BEGIN EXCLUSIVE; INSERT INTO t VALUES(1)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(ce::storeProblem(ce::pimStoreName), "");
  sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
}

// Opening a second connection to a store this process has open must leave the first one's
// locks alone: the fault was a descriptor of the file opened and closed on the way, which
// dropped them, so that another process closing its last connection checkpointed and removed
// the log under the first, and the first then read a malformed store.
TEST_F(StoreFileTest, ASecondConnectionLeavesTheFirstOnesLocksAlone) {
  const std::string path = ce::systemDir() + "/pim.db";
  sqlite3* first = nullptr;
  ASSERT_EQ(ce::sqlite::openStore(path, &first), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(first, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3* second = nullptr;
  ASSERT_EQ(ce::sqlite::openStore(path, &second), SQLITE_OK);
  // Another process (a fresh one: a fork would share this one's idea of its locks) whose
  // connection is the last one it has, and which it closes.
  ce::test::ToolRun other = ce::test::runShell(
      "sqlite3 " + ce::test::shellQuoted(path) + " 'SELECT count(*) FROM t;'", home() + "/err");
  ASSERT_EQ(other.exitCode, 0) << other.err;
  EXPECT_TRUE(fs::exists(path + "-wal")) << "the log was removed while this process had it open";
  EXPECT_EQ(sqlite3_exec(first, "INSERT INTO t VALUES(3)", nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(first);
  EXPECT_EQ(sqlite3_exec(second, "SELECT count(*) FROM t", nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(second);
  sqlite3_close(second);
  sqlite3_close(first);
}

}  // namespace
