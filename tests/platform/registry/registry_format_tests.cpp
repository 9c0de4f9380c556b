// registry.db as a file: any SQLite tool reads it, and older stores are upgraded in place.
#include <sqlite3.h>
#include <stdio.h>

#include <cstdlib>
#include <string>

#include "platform/linux/device.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"
#include "tests/support/tool_run.h"

namespace {

using StoreFormatTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::getString;
using ce::test::setString;

bool haveSqliteShell() { return std::system("command -v sqlite3 >/dev/null 2>&1") == 0; }

TEST_F(StoreFormatTest, TheSqlite3ShellChecksQueriesAndDumpsAStoreWeWrote) {
  if (!haveSqliteShell()) GTEST_SKIP() << "the sqlite3 shell is not installed";
  HKEY key = createKey(L"Software\\Quillbex\\SyncclientPIM");
  ASSERT_EQ(setString(key, L"clientPushInterval", L"5"), ERROR_SUCCESS);
  setString(createKey(L"Software\\\u00c4rger"), L"Gr\u00f6\u00dfe", L"x");
  ce::testing::reset();  // our connection closed: the shell sees the file as a user would
  // What the sqlite3 shell prints, errors included, and its exit status.
  auto shell = [this](const std::string& arguments) {
    return ce::test::runShell("sqlite3 -batch " + arguments + " 2>&1", hostPath("sqlite3.err"));
  };
  std::string file = ce::test::shellQuoted(hostPath("system/registry.db"));
  EXPECT_EQ(shell(file + " 'PRAGMA integrity_check'").out, "ok\n");
  const std::string query = "\"SELECT data FROM key_values WHERE name = 'clientPushInterval'\"";
  EXPECT_EQ(shell(file + " " + query).out, "5\n");
  std::string dump = ce::test::shellQuoted(hostPath("registry.sql")), copy = hostPath("copy.db");
  ASSERT_EQ(shell(file + " .dump > " + dump).exitCode, 0);
  auto load = shell(ce::test::shellQuoted(copy) + " < " + dump);
  EXPECT_EQ(load.exitCode, 0) << load.out;
  EXPECT_EQ(shell(ce::test::shellQuoted(copy) + " 'PRAGMA integrity_check'").out, "ok\n");

  // The reloaded copy is a registry our program reads as it was.
  ASSERT_EQ(std::rename(copy.c_str(), hostPath("system/registry.db").c_str()), 0);
  std::remove(hostPath("system/registry.db-wal").c_str());
  std::remove(hostPath("system/registry.db-shm").c_str());
  HKEY reloaded = nullptr;
  ASSERT_EQ(ce::test::openKey(L"SOFTWARE\\\u00e4RGER", reloaded), ERROR_SUCCESS);
  EXPECT_EQ(getString(reloaded, L"GR\u00d6\u00dfE"), L"x");
}

// The stores earlier versions wrote: the same tables with a `path` column, names compared by
// SQLite's NOCASE (version 1) or by a collation of the program's own (version 2).
void writeOlderStore(const std::string& file, int version, const std::string& extraRows) {
  const char* collation = version == 1 ? "NOCASE" : "REGISTRY_NOCASE";
  std::string sql = std::string(R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE keys (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  path TEXT NOT NULL COLLATE )sql") + collation + R"sql( UNIQUE
);
CREATE INDEX keys_by_parent ON keys(parent, id);
CREATE TABLE key_values (
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE )sql" + collation + R"sql(,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key, name)
);
INSERT INTO keys(id, parent, name, path) VALUES (1, NULL, '', '');
INSERT INTO keys(id, parent, name, path) VALUES (2, 1, 'Software', 'Software');
INSERT INTO keys(id, parent, name, path) VALUES (9, 2, 'Ärger', 'Software\Ärger');
INSERT INTO key_values(id, key, name, type, data) VALUES (7, 9, 'Wert', 1, 'alt');
INSERT INTO key_values(id, key, name, type, data) VALUES (8, 9, 'Zahl', 4, 30);
UPDATE sqlite_sequence SET seq = 40 WHERE name = 'keys';
)sql" + extraRows + "PRAGMA user_version = " + std::to_string(version) + ";";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  // Any comparison will do to write the fixture; the upgrade must not need it.
  sqlite3_create_collation(db, "REGISTRY_NOCASE", SQLITE_UTF8, nullptr,
                           [](void*, int a, const void* x, int b, const void* y) {
                             int common = sqlite3_strnicmp(static_cast<const char*>(x),
                                                           static_cast<const char*>(y),
                                                           a < b ? a : b);
                             return common ? common : a - b;
                           });
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(StoreFormatTest, OlderStoresAreUpgradedInPlaceKeepingIdsAndData) {
  std::string file = ce::systemDir() + "/registry.db";
  for (int version : {1, 2}) {
    ce::testing::reset();
    std::remove(file.c_str());
    writeOlderStore(file, version, "");
    HKEY key = createKey(L"SOFTWARE\\\u00e4RGER");
    ASSERT_NE(key, nullptr) << version;
    EXPECT_EQ(getString(key, L"wert"), L"alt");
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(RegQueryValueExW(key, L"ZAHL", nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(number, 30u);
    EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA user_version"), "3");
    EXPECT_EQ(ce::test::sqlValue(file, "SELECT id FROM keys WHERE name = 'Ärger'"), "9");
    EXPECT_EQ(ce::test::sqlValue(file, "SELECT id FROM key_values WHERE name = 'Zahl'"), "8");
    // The key counter carried over: a new key never takes a deleted key's id.
    RegCloseKey(createKey(L"Software\\New"));
    EXPECT_GT(std::stoi(ce::test::sqlValue(file, "SELECT max(id) FROM keys")), 40);
    EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA integrity_check"), "ok");
  }
}

// Names the old comparison told apart but the device's does not ("Ärger" and "ärger" under
// ASCII-only NOCASE): both stay, listed; a lookup by name finds the first.
TEST_F(StoreFormatTest, NamesAnOlderStoreToldApartAreAllKept) {
  std::string file = ce::systemDir() + "/registry.db";
  ce::testing::reset();
  writeOlderStore(file, 1,
                  "INSERT INTO keys(id, parent, name, path) VALUES (10, 2, 'ärger', "
                  "'Software\\ärger');"
                  "INSERT INTO key_values(id, key, name, type, data) VALUES (20, 9, 'größe', 1, "
                  "'erste');"
                  "INSERT INTO key_values(id, key, name, type, data) VALUES (21, 9, 'grÖße', 1, "
                  "'zweite');");
  HKEY lower = nullptr;
  ASSERT_EQ(ce::test::openKey(L"Software\\\u00e4rger", lower), ERROR_SUCCESS);
  EXPECT_EQ(getString(lower, L"GR\u00d6\u00dfE"), L"erste");
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")), L"\u00c4rger,\u00e4rger");
  DWORD values = 0;
  RegQueryInfoKeyW(lower, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                   nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(setString(lower, L"x", L"y"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA user_version"), "3");
  EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA integrity_check"), "ok");
}

}  // namespace
