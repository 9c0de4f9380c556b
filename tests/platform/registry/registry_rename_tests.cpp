// A registry.db replaced by a rename while a process holds it open (a restore, a tool that
// edits a copy and moves it into place).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "platform/linux/device.h"
#include "platform/registry_transaction.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using RegistryRenameTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::exitCodeInChild;
using ce::test::getString;
using ce::test::setString;
using ce::test::sqlExec;

std::string database() { return ce::systemDir() + "/registry.db"; }

// A copy of the store as it is now, with `marker` changed in the copy only, renamed over it.
void replaceWithEditedCopy() {
  const std::string copy = database() + ".new";
  ASSERT_EQ(sqlExec(database(), "VACUUM INTO '" + copy + "'"), SQLITE_OK);
  // In WAL mode, as a copy of the file itself is (VACUUM INTO makes a rollback-mode one).
  ASSERT_EQ(sqlExec(copy, "PRAGMA journal_mode=WAL;"
                          "UPDATE key_values SET data = 'copy' WHERE name = 'marker'"),
            SQLITE_OK);
  ASSERT_EQ(std::rename(copy.c_str(), database().c_str()), 0);
}

// What a process that opens the store afresh reads: 0 when it sees `value` and the copy's
// marker.
int freshReaderSees(const wchar_t* value) {
  HKEY key = nullptr;
  if (ce::test::openKey(L"Software\\Quillbex", key) != ERROR_SUCCESS) return 1;
  if (getString(key, L"clientPushList") != value) return 2;
  return getString(key, L"marker") == L"copy" ? 0 : 3;
}

HKEY storeWithMarker() {
  HKEY key = createKey(L"Software\\Quillbex");
  EXPECT_EQ(setString(key, L"clientPushList", L"1"), ERROR_SUCCESS);
  EXPECT_EQ(setString(key, L"marker", L"old"), ERROR_SUCCESS);
  return key;
}

// Catches writes that go on into the unlinked old file, seen by no other process, whether
// the first write after the rename is a single value, a transaction's begin, the first write
// of a transaction that read the old file first, or a key's creation.
TEST_F(RegistryRenameTest, TheNextWriteAfterARenameGoesIntoTheNewFile) {
  HKEY key = storeWithMarker();
  // Renamed over between a transaction's first read and its first write, first of all: no
  // earlier transaction of this process has left anything behind that would make it run
  // again anyway (a begin that forgot it began as a reader passed once it came later).
  int runs = 0;
  EXPECT_EQ(ce::registry::runInTransaction([&] {
              getString(key, L"clientPushList");
              if (++runs == 1) replaceWithEditedCopy();
              return setString(key, L"clientPushList", L"2");
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(exitCodeInChild([] { return freshReaderSees(L"2"); }), 0);
  // Again, with a single value as the first write.
  replaceWithEditedCopy();
  EXPECT_EQ(setString(key, L"clientPushList", L"3"), ERROR_SUCCESS);
  EXPECT_EQ(exitCodeInChild([] { return freshReaderSees(L"3"); }), 0);
  EXPECT_EQ(getString(key, L"marker"), L"copy");
  // Again, with the transaction's own begin as the first write.
  replaceWithEditedCopy();
  EXPECT_EQ(ce::registry::runInTransaction([&] {
              return setString(key, L"clientPushList", L"4");
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(exitCodeInChild([] { return freshReaderSees(L"4"); }), 0);
  // Again, with a new key's creation, a transaction that takes the write lock at its begin.
  replaceWithEditedCopy();
  RegCloseKey(createKey(L"Software\\Quillbex\\Made"));
  EXPECT_EQ(exitCodeInChild([] {
              return ce::test::keyExists(L"Software\\Quillbex\\Made") ? freshReaderSees(L"4") : 4;
            }),
            0);
}

// Catches a replacement that is not a registry store being written into or damaged, and a
// refusal that nobody is told of.
TEST_F(RegistryRenameTest, AForeignFileRenamedOverIsRefusedLoudlyAndLeftUntouched) {
  HKEY key = storeWithMarker();
  const std::string good = database() + ".good", foreign = database() + ".foreign";
  ASSERT_EQ(sqlExec(database(), "VACUUM INTO '" + good + "'"), SQLITE_OK);
  ASSERT_EQ(sqlExec(foreign, "CREATE TABLE mine(x); INSERT INTO mine VALUES (42);"), SQLITE_OK);
  const std::string before = ce::test::readFile(foreign);
  ASSERT_EQ(std::rename(foreign.c_str(), database().c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(setString(key, L"clientPushList", L"2"), ERROR_CANTWRITE);
  EXPECT_EQ(setString(key, L"clientPushList", L"2"), ERROR_CANTWRITE);  // still, not a crash
  // Nothing is left open to read from either: an error, not a read of a closed connection.
  LONG readRc = ERROR_SUCCESS;
  EXPECT_EQ(getString(key, L"clientPushList", &readRc), L"");
  EXPECT_EQ(readRc, ERROR_CANTWRITE);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("ERROR"), std::string::npos) << said;
  EXPECT_NE(said.find("registry.db"), std::string::npos) << said;
  EXPECT_TRUE(ce::test::readFile(database()) == before);
  // Mended while the process runs: the next call opens the good store.
  ASSERT_EQ(std::rename(good.c_str(), database().c_str()), 0);
  EXPECT_EQ(setString(key, L"clientPushList", L"4"), ERROR_SUCCESS);
  EXPECT_EQ(getString(key, L"clientPushList"), L"4");
}

// A restore in rollback mode (what VACUUM INTO makes) is written in WAL mode from the first
// write on. Catches a restored store in which a reader's open transaction holds off the
// device's writes until they fail (ERROR_BUSY).
TEST_F(RegistryRenameTest, ARestoredCopyInRollbackModeLetsReadersAndWritersMeet) {
  HKEY key = storeWithMarker();
  const std::string copy = database() + ".restored";
  ASSERT_EQ(sqlExec(database(), "VACUUM INTO '" + copy + "'"), SQLITE_OK);
  ASSERT_EQ(std::rename(copy.c_str(), database().c_str()), 0);
  EXPECT_EQ(setString(key, L"clientPushList", L"2"), ERROR_SUCCESS);
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(database().c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM keys;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  ce::testing::setRegistryBusyTimeout(100);
  EXPECT_EQ(setString(key, L"clientPushList", L"3"), ERROR_SUCCESS);
  sqlite3_close(reader);
  EXPECT_EQ(getString(key, L"clientPushList"), L"3");
}

// The old file's log stays under the store's name while another process holds it. Catches
// writes refused for as long as that process lives; the new file opened with the old log,
// whose pages then read as the old file's (the marker "old"); and a second process following
// the same replacement, or the holder closing, removing the log the first one now writes in
// (its commits then lost to fresh readers).
TEST_F(RegistryRenameTest, WritesGoOnIntoTheNewFileWhileAnotherProcessHoldsTheOld) {
  // Both children start first: a child forked from a process with the store open would share
  // its parent's SQLite state, locks and log included, and hold or read nothing of its own.
  ce::test::Pipe ready, release, readNow;
  ce::test::ChildProcess holder([&] {
    HKEY mine = storeWithMarker();
    ready.send('r');
    release.block();
    // Its own next write follows the same replacement.
    return setString(mine, L"fromHolder", L"held") == ERROR_SUCCESS ? 0 : 1;
  });
  ce::test::ChildProcess reader([&] {
    readNow.block();
    HKEY fresh = nullptr;
    if (ce::test::openKey(L"Software\\Quillbex", fresh) != ERROR_SUCCESS) return 1;
    return getString(fresh, L"fromHolder") == L"held" ? freshReaderSees(L"2") : 4;
  });
  char signal = 0;
  ASSERT_TRUE(ready.receive(signal));
  HKEY key = createKey(L"Software\\Quillbex");
  // The same file moved away and back is no replacement: a write refused or a reopen that
  // takes the live log for a left one would be a fault.
  const std::string aside = database() + ".aside";
  ASSERT_EQ(std::rename(database().c_str(), aside.c_str()), 0);
  ASSERT_EQ(std::rename(aside.c_str(), database().c_str()), 0);
  EXPECT_EQ(setString(key, L"clientPushList", L"5"), ERROR_SUCCESS);
  replaceWithEditedCopy();
  EXPECT_EQ(setString(key, L"clientPushList", L"2"), ERROR_SUCCESS);
  EXPECT_EQ(getString(key, L"marker"), L"copy");
  release.send('g');
  EXPECT_EQ(holder.wait(), 0);
  readNow.send('g');
  EXPECT_EQ(reader.wait(), 0);
}

}  // namespace
