#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/registry_transaction.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/child_processes.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using RegistryStoreTest = ce::test::DeviceTest;
using ce::registry::runInTransaction;
using ce::test::allAtOnce;
using ce::test::createKey;
using ce::test::getString;
using ce::test::setString;

void expectUnusable(LONG expected) {
  HKEY key = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0xdeadbeef));
  EXPECT_EQ(ce::test::openKey(L"Software", key), expected);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(createKey(L"Software"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(expected));
  EXPECT_EQ(setString(HKEY_LOCAL_MACHINE, L"v", L"x"), expected);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software"), expected);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), expected);
  EXPECT_EQ(runInTransaction([] { return ERROR_SUCCESS; }), expected);
}

void overtakenTransaction(bool readJustBefore) {
  HKEY key = createKey(L"Software\\Quillbex");
  setString(key, L"clientPushList", L"1");
  if (readJustBefore) {
    EXPECT_EQ(getString(key, L"clientPushList"), L"1");
  }
  // Forked before the transaction: a child forked inside it would inherit the held store.
  ce::test::Pipe go, done;
  ce::test::ChildProcess other([&] {
    go.block();
    HKEY own = createKey(L"Software\\Quillbex");
    LONG rc = setString(own, L"clientPushList", L"3");
    done.send('d');
    return rc == ERROR_SUCCESS ? 0 : 1;
  });
  int runs = 0;
  EXPECT_EQ(runInTransaction([&]() -> LONG {
              long seen = std::stol(getString(key, L"clientPushList"));
              if (++runs == 1) {
                go.send('g');
                char signal = 0;
                if (!done.receive(signal)) return ERROR_GEN_FAILURE;
              }
              return setString(key, L"clientPushList", std::to_wstring(seen | 4).c_str());
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(other.wait(), 0);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(getString(key, L"clientPushList"), L"7");
}

// (A file that is not a database at all: DeviceHomeProcessTest's broken stores.)
TEST_F(RegistryStoreTest, ADatabaseThatIsNotOursIsRefusedAndLeftUntouched) {
  std::string database = ce::systemDir() + "/registry.db";
  ASSERT_EQ(ce::test::sqlExec(database, "CREATE TABLE mine(x); INSERT INTO mine VALUES (42);"),
            SQLITE_OK);
  std::string before = ce::test::readFile(database);
  expectUnusable(ERROR_BADDB);
  EXPECT_TRUE(ce::test::readFile(database) == before);

  // Mended while the process runs: the next call opens it.
  std::remove(database.c_str());
  EXPECT_NE(createKey(L"Software"), nullptr);
}

int readOnlyProbe() {
  // Root writes through any mode bits: become nobody to see what a user sees.
  if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
  HKEY key = nullptr;
  LONG rc = ce::test::openKey(L"Software\\Quillbex", key);
  if (rc != ERROR_SUCCESS) return rc == ERROR_ACCESS_DENIED ? 1 : 101;
  if (getString(key, L"clientPushList") != L"6") return 102;
  if (setString(key, L"clientPushList", L"7") != ERROR_ACCESS_DENIED) return 103;
  if (createKey(L"Software\\New") || GetLastError() != ERROR_ACCESS_DENIED) return 104;
  return 0;
}

TEST_F(RegistryStoreTest, AReadOnlyStoreReadsButRefusesWrites) {
  setString(createKey(L"Software\\Quillbex"), L"clientPushList", L"6");
  ce::testing::reset();  // closes the connection: the WAL is folded into the file
  std::string database = hostPath("system/registry.db");
  std::string before = ce::test::readFile(database);
  // Root writes through any mode bits, and a home is used only by its owner: the probe's
  // user (nobody) is given the home to show what its owner meets in a read-only store.
  if (getuid() == 0) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home()))
      ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
    ASSERT_EQ(lchown(home().c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chmod(home().c_str(), 0755), 0);
  ASSERT_EQ(chmod(hostPath("system").c_str(), 0555), 0);
  ASSERT_EQ(chmod(database.c_str(), 0444), 0);
  // In a folder it may not write either, SQLite cannot even read (its shared-memory index
  // lives beside the file): a clean ERROR_ACCESS_DENIED.
  EXPECT_EQ(ce::test::exitCodeInChild(readOnlyProbe), 1);
  ASSERT_EQ(chmod(hostPath("system").c_str(), 0755), 0);
  EXPECT_EQ(ce::test::exitCodeInChild(readOnlyProbe), 0);
  EXPECT_TRUE(ce::test::readFile(database) == before);
}

TEST_F(RegistryStoreTest, ALockedStoreStillReadsAndWritersFailCleanlyAfterWaiting) {
  HKEY key = createKey(L"Software\\Quillbex");
  setString(key, L"clientPushList", L"2");
  ce::testing::setRegistryBusyTimeout(20);
  ce::test::StoreWriter other(hostPath("system/registry.db"));
  ASSERT_TRUE(other.held());
  EXPECT_EQ(getString(key, L"clientPushList"), L"2");
  EXPECT_EQ(setString(key, L"clientPushList", L"3"), ERROR_BUSY);
  EXPECT_EQ(runInTransaction([&] { return setString(key, L"clientPushList", L"3"); }),
            ERROR_BUSY);
  // One that only reads needs no write lock.
  EXPECT_EQ(runInTransaction([&] {
              return getString(key, L"clientPushList") == L"2" ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
            }),
            ERROR_SUCCESS);
  other.release();
  EXPECT_EQ(setString(key, L"clientPushList", L"3"), ERROR_SUCCESS);
}

// A transaction reads without the write lock and takes it at its first write. Catches a
// read-modify-write that loses another process's commit made between its read and its write
// (a lost update), and one that fails instead of reading again once the commit is in. Run with
// the list read just before, too, when the transaction's read is answered from memory and
// SQLite itself sees no read to refuse the write for.
TEST_F(RegistryStoreTest, ATransactionOvertakenBetweenItsReadAndItsWriteRunsAgain) {
  for (bool readJustBefore : {false, true}) {
    SCOPED_TRACE(readJustBefore ? "list read just before" : "list just written");
    overtakenTransaction(readJustBefore);
  }
}

// A process idle after a burst gives back the pages SQLite cached for its store, and its next
// reads find the same values (catches a trim that never reaches the store, and one that leaves
// the store unusable).
TEST_F(RegistryStoreTest, AnIdleTrimGivesBackCachedPagesAndReadsGoOn) {
  HKEY key = createKey(L"Software\\Quillbex");
  const std::wstring longValue(200, L'x');
  for (int i = 0; i < 200; ++i) setString(key, (L"v" + std::to_wstring(i)).c_str(), longValue);
  const sqlite3_int64 cached = sqlite3_memory_used();
  ce::trimIdleMemory();
  EXPECT_LT(sqlite3_memory_used(), cached - 32 * 1024);
  EXPECT_EQ(getString(key, L"v7"), longValue);
  setString(key, L"v7", L"y");
  EXPECT_EQ(getString(key, L"v7"), L"y");
}

// Statements are prepared at their first use, so SQLite may be out of memory just then: the call
// fails, and once memory is back the same call works and nothing stored is lost. Catches a
// statement that could not be prepared handed on as null to a call that does not take it.
TEST_F(RegistryStoreTest, AStatementThatCannotBePreparedFailsItsCallAndLaterOnesWork) {
  HKEY key = createKey(L"Software\\Quillbex");
  setString(key, L"clientPushList", L"5");
  DWORD subkeys = 7, values = 0;
  sqlite3_hard_heap_limit64(sqlite3_memory_used());
  LONG starved = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr);
  sqlite3_hard_heap_limit64(0);
  EXPECT_NE(starved, ERROR_SUCCESS);
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(getString(key, L"clientPushList"), L"5");
}

// What was read is kept in memory while no commit is published, whoever makes the commit: here
// another program's own SQLite connection, which leaves no mark of ours. Catches a kept key or
// value given after such a commit; a transaction whose read was answered from memory writing
// over a commit made between that read and its write, or after a second read that saw the
// newer state; and a rolled-back write kept as if it had been committed.
TEST_F(RegistryStoreTest, WhatIsKeptInMemoryGivesWayToAnyOtherProgramsCommit) {
  const std::string database = hostPath("system/registry.db");
  HKEY key = createKey(L"Software\\Quillbex");
  setString(key, L"clientPushList", L"1");
  setString(key, L"other", L"a");
  auto otherProgram = [&](const char* sql) { ASSERT_EQ(ce::test::sqlExec(database, sql), SQLITE_OK); };

  for (int read = 0; read < 2; ++read) EXPECT_EQ(getString(key, L"clientPushList"), L"1");
  otherProgram("UPDATE key_values SET data = '2' WHERE name = 'clientPushList'");
  EXPECT_EQ(getString(key, L"clientPushList"), L"2");

  HKEY opened = nullptr;
  ASSERT_EQ(ce::test::openKey(L"Software\\Quillbex\\Settings", opened), ERROR_FILE_NOT_FOUND);
  HKEY settings = createKey(L"Software\\Quillbex\\Settings");
  ASSERT_EQ(ce::test::openKey(L"Software\\Quillbex\\Settings", opened), ERROR_SUCCESS);
  RegCloseKey(opened);
  otherProgram("DELETE FROM keys WHERE name = 'Settings'");
  EXPECT_EQ(ce::test::openKey(L"Software\\Quillbex\\Settings", opened), ERROR_FILE_NOT_FOUND);
  RegCloseKey(settings);

  for (bool secondRead : {false, true}) {
    SCOPED_TRACE(secondRead ? "with a second read after the commit" : "one read");
    setString(key, L"clientPushList", L"1");
    EXPECT_EQ(getString(key, L"clientPushList"), L"1");
    int runs = 0;
    EXPECT_EQ(runInTransaction([&]() -> LONG {
                long seen = std::stol(getString(key, L"clientPushList"));
                if (++runs == 1) {
                  otherProgram("UPDATE key_values SET data = '3' WHERE name = 'clientPushList'");
                  if (secondRead) {
                    EXPECT_EQ(getString(key, L"other"), L"a");
                  }
                }
                return setString(key, L"clientPushList", std::to_wstring(seen | 4).c_str());
              }),
              ERROR_SUCCESS);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(getString(key, L"clientPushList"), L"7");
  }

  // A transaction's read of its own write is not kept: rolled back, the write never was.
  EXPECT_EQ(runInTransaction([&]() -> LONG {
              setString(key, L"clientPushList", L"9");
              EXPECT_EQ(getString(key, L"clientPushList"), L"9");
              return ERROR_INVALID_DATA;
            }),
            ERROR_INVALID_DATA);
  EXPECT_EQ(getString(key, L"clientPushList"), L"7");
}

TEST_F(RegistryStoreTest, TransactionsCommitOnSuccessAndRollBackOnFailureOrException) {
  HKEY key = createKey(L"Software\\T");
  setString(key, L"v", L"before");
  EXPECT_EQ(runInTransaction([&] {
              setString(key, L"v", L"changed");
              createKey(L"Software\\T\\new\\deep");
              return ERROR_FILE_NOT_FOUND;
            }),
            ERROR_FILE_NOT_FOUND);
  EXPECT_THROW(runInTransaction([&]() -> LONG {
                 setString(key, L"v", L"thrown");
                 throw std::runtime_error("body failed");
               }),
               std::runtime_error);
  EXPECT_EQ(getString(key, L"v"), L"before");
  EXPECT_FALSE(ce::test::keyExists(L"Software\\T\\new"));

  // A nested transaction that fails takes only its own writes with it.
  EXPECT_EQ(runInTransaction([&] {
              setString(key, L"v", L"outer");
              runInTransaction([&] {
                setString(key, L"w", L"inner");
                return ERROR_CANTWRITE;
              });
              return ERROR_SUCCESS;
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(getString(key, L"v"), L"outer");
  EXPECT_EQ(getString(key, L"w"), L"");
}

DWORD valueCount(HKEY key) {
  DWORD values = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  return values;
}

// (Read-modify-write in one transaction from two processes at once, losing nothing, is
// ChangeRecordingTest.ConcurrentRecordersNeverLoseABit's, through the listener's own calls.)
TEST_F(RegistryStoreTest, ProcessesOpeningANewStoreAtOnceAllSucceed) {
  // Repeated: the race between creating the schema and switching to WAL is narrow.
  for (int round = 0; round < 5; ++round) {
    ce::testing::reset();
    std::remove(hostPath("system/registry.db").c_str());
    EXPECT_TRUE(allAtOnce(4, [](int) {
      HKEY key = createKey(L"Software\\Quillbex\\SyncclientPIM");
      std::wstring name = std::to_wstring(getpid());
      return key && setString(key, name.c_str(), L"1") == ERROR_SUCCESS ? 0 : 20;
    }));
    EXPECT_EQ(valueCount(createKey(L"Software\\Quillbex\\SyncclientPIM")), 4u);
  }
}

// A walk by index answers from the key as it is at each call, whoever changed it meanwhile,
// by a single call or in a transaction: a cursor kept from before another process's change
// must not be trusted. (Changes through
// another handle of this process: the registry conformance area's "RegEnumValueW two handles".)
void expectAWalkToSeeAnotherProcessesChanges() {
  HKEY key = createKey(L"Software\\Walk");
  for (const wchar_t* name : {L"v1", L"v2", L"v3", L"v4", L"v5"}) setString(key, name, L"x");
  RegCloseKey(createKey(L"Software\\Walk\\k1"));
  RegCloseKey(createKey(L"Software\\Walk\\k2"));
  RegCloseKey(createKey(L"Software\\Walk\\k3"));
  auto valueAt = [&](DWORD index) {
    WCHAR name[8];
    DWORD chars = 8;
    LONG rc = RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? std::wstring(name) : L"<" + std::to_wstring(rc) + L">";
  };
  auto subkeyAt = [&](DWORD index) {
    WCHAR name[8];
    DWORD chars = 8;
    LONG rc = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? std::wstring(name) : L"<" + std::to_wstring(rc) + L">";
  };
  EXPECT_EQ(valueAt(0), L"v1");
  EXPECT_EQ(valueAt(1), L"v2");
  EXPECT_EQ(subkeyAt(0), L"k1");
  // A value's deletion alone, with no change of keys to give it away, is seen.
  EXPECT_EQ(ce::test::exitCodeInChild([] {
              HKEY own = createKey(L"Software\\Walk");
              return RegDeleteValueW(own, L"v1") == ERROR_SUCCESS ? 0 : 1;
            }),
            0);
  EXPECT_EQ(valueAt(2), L"v4");  // v2 v3 v4 v5 now
  EXPECT_EQ(valueAt(3), L"v5");
  EXPECT_EQ(valueAt(4), L"<259>");
  EXPECT_EQ(ce::test::exitCodeInChild([] {
              HKEY own = createKey(L"Software\\Walk");
              if (RegDeleteKeyW(own, L"k1") != ERROR_SUCCESS) return 2;
              RegCloseKey(createKey(L"Software\\Walk\\k0"));
              return 0;
            }),
            0);
  EXPECT_EQ(subkeyAt(1), L"k2");  // k0 k2 k3 now
  EXPECT_EQ(subkeyAt(2), L"k3");
  EXPECT_EQ(subkeyAt(3), L"<259>");
  // A change committed by another process's transaction, rather than by a single call.
  EXPECT_EQ(valueAt(0), L"v2");
  EXPECT_EQ(ce::test::exitCodeInChild([] {
              HKEY own = createKey(L"Software\\Walk");
              LONG rc = runInTransaction([own] { return RegDeleteValueW(own, L"v3"); });
              return rc == ERROR_SUCCESS ? 0 : 1;
            }),
            0);
  EXPECT_EQ(valueAt(1), L"v4");  // v2 v4 v5 now
}

TEST_F(RegistryStoreTest, AWalkSeesWhatAnotherProcessChangedBetweenSteps) {
  expectAWalkToSeeAnotherProcessesChanges();
}

// Where the shared commit count cannot be kept (here its file is a folder), every step asks
// the store, and the answers are the same.
TEST_F(RegistryStoreTest, WithoutTheCommitCountAWalkStillSeesEveryChange) {
  ce::testing::reset();
  ASSERT_EQ(mkdir((ce::systemDir() + "/registry.db-commits").c_str(), 0700), 0);
  expectAWalkToSeeAnotherProcessesChanges();
}

// The mark's file truncated while in use (a careless script, a cleaner) kills no process and
// hides no change: a mapped file would have turned the next commit of every process that had
// it mapped into SIGBUS, and a mark that read back as it was before the cut would let a walk
// answer from entries read before another process's change.
TEST_F(RegistryStoreTest, ACommitCountTruncatedWhileInUseKillsNoWriterAndHidesNoChange) {
  RegCloseKey(createKey(L"Software\\Mapped"));
  ASSERT_EQ(truncate((ce::systemDir() + "/registry.db-commits").c_str(), 0), 0);
  EXPECT_EQ(ce::test::exitCodeInChild([] {
              HKEY key = createKey(L"Software\\Mapped");
              return setString(key, L"after", L"x") == ERROR_SUCCESS ? 0 : 1;
            }),
            0);
  ASSERT_EQ(truncate((ce::systemDir() + "/registry.db-commits").c_str(), 0), 0);
  // A walk's step reads the mark of a file cut short, before any write lengthens it again.
  HKEY software = createKey(L"Software");
  WCHAR name[16];
  DWORD chars = 16;
  EXPECT_EQ(RegEnumKeyExW(software, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  expectAWalkToSeeAnotherProcessesChanges();
}

// Catches commit marks that repeat across processes: two children forked one after the other
// from the same parent would start their marks from the same place, and a walk that read
// ahead at the first child's mark would take the second child's change for no change.
TEST_F(RegistryStoreTest, AWalkSeesTheSingleChangesOfTwoChildrenOneAfterTheOther) {
  HKEY key = createKey(L"Software\\Marks");
  for (const wchar_t* name : {L"v1", L"v2", L"v3", L"v4", L"v5", L"v6"}) setString(key, name, L"x");
  auto valueAt = [&](DWORD index) {
    WCHAR name[8];
    DWORD chars = 8;
    LONG rc = RegEnumValueW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? std::wstring(name) : L"<" + std::to_wstring(rc) + L">";
  };
  auto deleteInChild = [](const wchar_t* name) {
    return ce::test::exitCodeInChild([name] {
      HKEY own = createKey(L"Software\\Marks");
      return RegDeleteValueW(own, name) == ERROR_SUCCESS ? 0 : 1;
    });
  };
  EXPECT_EQ(valueAt(0), L"v1");
  ASSERT_EQ(deleteInChild(L"v1"), 0);
  EXPECT_EQ(valueAt(1), L"v3");  // v2 v3 v4 v5 v6
  ASSERT_EQ(deleteInChild(L"v2"), 0);
  EXPECT_EQ(valueAt(2), L"v5");  // v3 v4 v5 v6
}

}  // namespace
