// Key and value names compare without regard to case in all of Unicode, in new stores and in
// stores written before with ASCII-only folding.
#include <string>

#include "platform/device.h"
#include "platform/registry/name_collation.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using NameCaseTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::getString;
using ce::test::setString;

TEST_F(NameCaseTest, NamesDifferingInAnyLettersCaseAreOneName) {
  HKEY key = createKey(L"Software\\\u00c4rger\\\u03a9mega");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(setString(key, L"Gr\u00d6\u00dfe", L"1"), ERROR_SUCCESS);
  DWORD disposition = 0;
  HKEY same = createKey(L"software\\\u00e4RGER\\\u03c9MEGA", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(getString(same, L"gr\u00f6\u00dfE"), L"1");
  EXPECT_EQ(setString(same, L"GR\u00d6\u00dfE", L"2"), ERROR_SUCCESS);
  EXPECT_EQ(getString(key, L"gr\u00f6\u00dfe"), L"2");
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")), L"\u00c4rger");

  // A subtree is deleted by any spelling, and its neighbours, which sort just past it, stay.
  RegCloseKey(createKey(L"Software\\\u00c4rger2"));
  RegCloseKey(createKey(L"Software\\\u00c4rger]"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\\u00e4rger"), ERROR_SUCCESS);
  EXPECT_FALSE(ce::test::keyExists(L"Software\\\u00c4rger\\\u03a9mega"));
  EXPECT_TRUE(ce::test::keyExists(L"Software\\\u00e4rger2"));
  EXPECT_TRUE(ce::test::keyExists(L"Software\\\u00e4rger]"));
}

TEST(NameCollationTest, OrdersFoldedCharactersAndKeepsBadBytesApart) {
  using ce::registry::compareNames;
  auto cmp = [](const std::string& a, const std::string& b) {
    return compareNames(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  };
  EXPECT_EQ(cmp("\xc3\x84rger", "\xc3\xa4RGER"), 0);
  EXPECT_LT(cmp("a", "B"), 0);
  EXPECT_LT(cmp("ab", "abc"), 0);
  EXPECT_LT(cmp("a\\z", "a]"), 0);              // a subtree lies before the ']' bound
  EXPECT_NE(cmp("\xff", "\xfe"), 0);            // not UTF-8: compared by byte, never equal
  EXPECT_GT(cmp("\xff", "\xf4\x8f\xbf\xbf"), 0);
}

// A store as the previous version wrote it: ASCII-only NOCASE, user_version 1.
void writeVersion1Store(const std::string& file, const char* extraRows) {
  std::string sql = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE keys (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER REFERENCES keys(id),
  name TEXT NOT NULL,
  path TEXT NOT NULL COLLATE NOCASE UNIQUE
);
CREATE INDEX keys_by_parent ON keys(parent, id);
CREATE TABLE key_values (
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE (key, name)
);
INSERT INTO keys(id, parent, name, path) VALUES (1, NULL, '', '');
INSERT INTO keys(id, parent, name, path) VALUES (2, 1, 'Software', 'Software');
INSERT INTO keys(id, parent, name, path) VALUES (9, 2, 'Ärger', 'Software\Ärger');
INSERT INTO key_values(key, name, type, data) VALUES (9, 'Wert', 1, 'alt');
UPDATE sqlite_sequence SET seq = 40 WHERE name = 'keys';
PRAGMA user_version = 1;
)sql";
  ASSERT_EQ(ce::test::sqlExec(file, sql + extraRows), SQLITE_OK);
}

TEST_F(NameCaseTest, AnOlderStoreIsRebuiltWithItsIdsAndData) {
  std::string file = ce::systemDir() + "/registry.db";
  ce::testing::reset();
  writeVersion1Store(file, "");
  HKEY key = createKey(L"SOFTWARE\\\u00e4RGER");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(getString(key, L"wert"), L"alt");
  EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA user_version"), "2");
  // The key counter carried over: a new key never takes a deleted key's id.
  RegCloseKey(createKey(L"Software\\New"));
  EXPECT_GT(std::stoi(ce::test::sqlValue(file, "SELECT max(id) FROM keys")), 40);
}

TEST_F(NameCaseTest, AnOlderStoreWithNamesOnlyUnicodeFindsEqualKeepsWorking) {
  std::string file = ce::systemDir() + "/registry.db";
  ce::testing::reset();
  writeVersion1Store(
      file, "INSERT INTO keys(id, parent, name, path) VALUES (10, 2, 'ärger', 'Software\\ärger');");
  HKEY upper = nullptr, lower = nullptr;
  ASSERT_EQ(ce::test::openKey(L"Software\\\u00c4rger", upper), ERROR_SUCCESS);
  ASSERT_EQ(ce::test::openKey(L"Software\\\u00e4rger", lower), ERROR_SUCCESS);
  EXPECT_EQ(getString(upper, L"WERT"), L"alt");
  EXPECT_EQ(setString(lower, L"x", L"y"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA user_version"), "1");
}

}  // namespace
