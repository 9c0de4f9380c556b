#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/device.h"
#include "platform/registry/transaction.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using RegistryStoreTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::registry::runInTransaction;

std::string integrityOf(const std::string& database) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* row = nullptr;
  std::string result = "cannot check";
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &row, nullptr) == SQLITE_OK &&
      sqlite3_step(row) == SQLITE_ROW)
    result = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
  sqlite3_finalize(row);
  sqlite3_close(db);
  return result;
}

// Every operation on a store that cannot be used fails with `expected` and leaves it as it was.
void expectEveryOperationFails(LONG expected) {
  HKEY key = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0xdeadbeef));
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            expected);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(ce::test::openKey(L"Software", key), expected);
  DWORD size = 0;
  WCHAR name[8];
  DWORD chars = 8;
  EXPECT_EQ(RegQueryValueExW(HKEY_LOCAL_MACHINE, L"v", nullptr, nullptr, nullptr, &size),
            expected);
  EXPECT_EQ(ce::test::setString(HKEY_LOCAL_MACHINE, L"v", L"x"), expected);
  EXPECT_EQ(RegDeleteValueW(HKEY_LOCAL_MACHINE, L"v"), expected);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software"), expected);
  EXPECT_EQ(RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &chars, nullptr, nullptr, nullptr,
                          nullptr),
            expected);
  EXPECT_EQ(RegEnumValueW(HKEY_LOCAL_MACHINE, 0, name, &chars, nullptr, nullptr, nullptr,
                          nullptr),
            expected);
  EXPECT_EQ(RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, &size, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            expected);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), expected);
  EXPECT_EQ(runInTransaction([] { return ERROR_SUCCESS; }), expected);
}

TEST_F(RegistryStoreTest, AFileThatIsNotOurDatabaseIsRefusedAndLeftUntouched) {
  std::string database = ce::systemDir() + "/registry.db";
  std::string junk(8192, '\x5a');
  ce::test::writeFile(database, junk);
  ASSERT_EQ(ce::test::readFile(database), junk);
  expectEveryOperationFails(ERROR_BADDB);
  EXPECT_TRUE(ce::test::readFile(database) == junk);

  // Somebody else's SQLite database.
  ce::testing::reset();
  std::remove(database.c_str());
  sqlite3* db = nullptr;
  sqlite3_open(database.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE mine(x); INSERT INTO mine VALUES (42);", nullptr, nullptr,
               nullptr);
  sqlite3_close(db);
  std::string before = ce::test::readFile(database);
  expectEveryOperationFails(ERROR_BADDB);
  EXPECT_TRUE(ce::test::readFile(database) == before);

  // Fixed while the process runs: the next call opens it.
  std::remove(database.c_str());
  HKEY key = createKey(L"Software");
  EXPECT_NE(key, nullptr);
  RegCloseKey(key);
}

int readOnlyProbe(void*) {
  // Root writes through any mode bits: become nobody to see what a user sees.
  if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 100;
  HKEY key = nullptr;
  LONG rc = ce::test::openKey(L"Software\\Quillbex", key);
  if (rc != ERROR_SUCCESS) return rc == ERROR_ACCESS_DENIED ? 1 : 101;
  if (ce::test::getString(key, L"clientPushList") != L"6") return 102;
  if (ce::test::setString(key, L"clientPushList", L"7") != ERROR_ACCESS_DENIED) return 103;
  if (ce::test::createKey(L"Software\\New")) return 104;
  if (GetLastError() != static_cast<DWORD>(ERROR_ACCESS_DENIED)) return 105;
  return 0;
}

TEST_F(RegistryStoreTest, AReadOnlyStoreReadsButRefusesWrites) {
  HKEY key = createKey(L"Software\\Quillbex");
  ce::test::setString(key, L"clientPushList", L"6");
  RegCloseKey(key);
  ce::testing::reset();  // closes the connection: the WAL is folded into the file
  std::string database = hostPath("system/registry.db");
  std::string before = ce::test::readFile(database);
  ASSERT_EQ(chmod(home().c_str(), 0755), 0);
  ASSERT_EQ(chmod(database.c_str(), 0444), 0);
  // With a folder it may not write either, SQLite cannot even read the file (it needs its
  // shared-memory index beside it): a clean ERROR_ACCESS_DENIED.
  EXPECT_EQ(ce::test::inChild(&readOnlyProbe, nullptr), 1);
  ASSERT_EQ(chmod(hostPath("system").c_str(), 0777), 0);
  EXPECT_EQ(ce::test::inChild(&readOnlyProbe, nullptr), 0);
  EXPECT_TRUE(ce::test::readFile(database) == before);
}

TEST_F(RegistryStoreTest, ALockedStoreStillReadsAndWritersFailCleanlyAfterWaiting) {
  HKEY key = createKey(L"Software\\Quillbex");
  ce::test::setString(key, L"clientPushList", L"2");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(hostPath("system/registry.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  EXPECT_EQ(ce::test::getString(key, L"clientPushList"), L"2");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ce::test::setString(key, L"clientPushList", L"3"), ERROR_BUSY);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(runInTransaction([] { return ERROR_SUCCESS; }), ERROR_BUSY);

  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(ce::test::setString(key, L"clientPushList", L"3"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(key, L"clientPushList"), L"3");
  RegCloseKey(key);
}

TEST_F(RegistryStoreTest, TransactionsCommitOnSuccessAndRollBackOnFailureOrException) {
  HKEY key = createKey(L"Software\\T");
  ce::test::setString(key, L"v", L"before");

  EXPECT_EQ(runInTransaction([&] {
              ce::test::setString(key, L"v", L"changed");
              RegCloseKey(createKey(L"Software\\T\\new\\deep"));
              return ERROR_FILE_NOT_FOUND;
            }),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ce::test::getString(key, L"v"), L"before");
  EXPECT_FALSE(ce::test::keyExists(L"Software\\T\\new"));

  EXPECT_THROW(runInTransaction([&]() -> LONG {
                 ce::test::setString(key, L"v", L"thrown");
                 throw std::runtime_error("body failed");
               }),
               std::runtime_error);
  EXPECT_EQ(ce::test::getString(key, L"v"), L"before");

  // A nested transaction that fails takes only its own writes with it.
  EXPECT_EQ(runInTransaction([&] {
              ce::test::setString(key, L"v", L"outer");
              LONG inner = runInTransaction([&] {
                ce::test::setString(key, L"w", L"inner");
                return ERROR_CANTWRITE;
              });
              return inner == ERROR_CANTWRITE ? ERROR_SUCCESS : inner;
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(key, L"v"), L"outer");
  LONG rc = 0;
  ce::test::getString(key, L"w", &rc);
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);

  ce::testing::setFailPoint("runInTransaction", ERROR_BUSY, ERROR_BUSY, 1);
  EXPECT_EQ(runInTransaction([] { return ERROR_SUCCESS; }), ERROR_BUSY);
  RegCloseKey(key);
}

struct WriterPlan {
  const wchar_t* prefix;
  int count;
};

int writeValues(void* argument) {
  auto* plan = static_cast<WriterPlan*>(argument);
  HKEY key = ce::test::createKey(L"Software\\Shared");
  if (!key) return 10;
  for (int i = 0; i < plan->count; ++i) {
    std::wstring name = plan->prefix + std::to_wstring(i);
    if (ce::test::setString(key, name.c_str(), std::to_wstring(i)) != ERROR_SUCCESS) return 11;
  }
  return 0;
}

int incrementCounter(void* argument) {
  int times = *static_cast<int*>(argument);
  HKEY key = ce::test::createKey(L"Software\\Shared");
  for (int i = 0; i < times; ++i) {
    LONG rc = runInTransaction([&] {
      std::wstring text = ce::test::getString(key, L"counter");
      int value = text.empty() ? 0 : std::stoi(text);
      return ce::test::setString(key, L"counter", std::to_wstring(value + 1));
    });
    if (rc != ERROR_SUCCESS) return 12;
  }
  return 0;
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  // The parent's connection is open across the forks: the children must not use it.
  HKEY key = createKey(L"Software\\Shared");
  WriterPlan first{L"a", 1000}, second{L"b", 1000};
  pid_t a = fork();
  if (a == 0) _exit(writeValues(&first));
  pid_t b = fork();
  if (b == 0) _exit(writeValues(&second));
  int statusA = 0, statusB = 0;
  waitpid(a, &statusA, 0);
  waitpid(b, &statusB, 0);
  EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
  EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 2000u);
  EXPECT_EQ(ce::test::getString(key, L"a999"), L"999");
  EXPECT_EQ(ce::test::getString(key, L"b0"), L"0");

  // Read-modify-write inside runInTransaction never loses the other process's increment.
  int times = 200;
  a = fork();
  if (a == 0) _exit(incrementCounter(&times));
  b = fork();
  if (b == 0) _exit(incrementCounter(&times));
  waitpid(a, &statusA, 0);
  waitpid(b, &statusB, 0);
  EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
  EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0);
  EXPECT_EQ(ce::test::getString(key, L"counter"), L"400");
  EXPECT_EQ(integrityOf(hostPath("system/registry.db")), "ok");
  RegCloseKey(key);
}

int openFreshAndWrite(void*) {
  HKEY key = ce::test::createKey(L"Software\\Quillbex\\SyncclientPIM");
  if (!key) return 20;
  return ce::test::setString(key, std::to_wstring(getpid()).c_str(), L"1") == ERROR_SUCCESS ? 0 : 21;
}

TEST_F(RegistryStoreTest, ProcessesOpeningANewStoreAtOnceAllSucceed) {
  for (int round = 0; round < 5; ++round) {
    std::remove(hostPath("system/registry.db").c_str());
    pid_t children[4];
    for (pid_t& child : children)
      if ((child = fork()) == 0) _exit(openFreshAndWrite(nullptr));
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    HKEY key = nullptr;
    ASSERT_EQ(ce::test::openKey(L"Software\\Quillbex\\SyncclientPIM", key), ERROR_SUCCESS);
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    EXPECT_EQ(values, 4u);
    RegCloseKey(key);
    ce::testing::reset();
  }
}

int writeForever(void*) {
  HKEY key = ce::test::createKey(L"Software\\Killed");
  // Carry on from what the previous writer left.
  for (long i = std::wcstol(ce::test::getString(key, L"count").c_str(), nullptr, 10) + 1;; ++i) {
    // Alternate sizes so that pages are rewritten, not only appended.
    std::wstring text = std::to_wstring(i) + std::wstring(static_cast<size_t>(i % 300), L'.');
    ce::test::setString(key, L"count", text);
    RegCloseKey(ce::test::createKey((L"Software\\Killed\\k" + std::to_wstring(i % 50)).c_str()));
  }
}

TEST_F(RegistryStoreTest, AWriterKilledInTheMiddleLeavesAConsistentStore) {
  std::string database = hostPath("system/registry.db");
  long last = 0;
  for (int round = 0; round < 5; ++round) {
    pid_t writer = fork();
    if (writer == 0) _exit(writeForever(nullptr));
    // Kill it once it has written a little more than last time.
    long target = last + 20;
    bool progressed = ce::test::waitFor([&] {
      HKEY key = nullptr;
      if (ce::test::openKey(L"Software\\Killed", key) != ERROR_SUCCESS) return false;
      std::wstring text = ce::test::getString(key, L"count");
      RegCloseKey(key);
      return !text.empty() && std::wcstol(text.c_str(), nullptr, 10) >= target;
    });
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    ASSERT_TRUE(progressed);
    ASSERT_EQ(integrityOf(database), "ok");
    HKEY key = nullptr;
    ASSERT_EQ(ce::test::openKey(L"Software\\Killed", key), ERROR_SUCCESS);
    std::wstring text = ce::test::getString(key, L"count");
    RegCloseKey(key);
    long value = std::wcstol(text.c_str(), nullptr, 10);
    EXPECT_GE(value, target);
    EXPECT_EQ(text, std::to_wstring(value) + std::wstring(static_cast<size_t>(value % 300), L'.'));
    last = value;
  }
}

}  // namespace
