// Keys, values and their names in the registry store.
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/registry/name_collation.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"
#include "tests/support/sqlite_file.h"

namespace {

using RegistryKeyTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::keyExists;
using ce::test::subkeysOf;

const HKEY sentinelKey = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0xdeadbeef));

LONG create(HKEY parent, const wchar_t* path, HKEY& key) {
  return RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
}

TEST_F(RegistryKeyTest, CreateMakesTheWholePathAndOpenNeverCreates) {
  HKEY key = sentinelKey;
  EXPECT_EQ(ce::test::openKey(L"Software\\Quillbex", key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_FALSE(keyExists(L"Software"));

  DWORD disposition = 0;
  key = createKey(L"Software\\Quillbex\\SyncclientPIM", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_TRUE(keyExists(L"Software\\Quillbex"));
  EXPECT_NE(createKey(L"Software\\Quillbex\\SyncclientPIM", &disposition), key);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // Relative to an open key, and the key itself through an empty subkey.
  HKEY child = nullptr, self = nullptr;
  EXPECT_EQ(create(key, L"sources\\note", child), ERROR_SUCCESS);
  EXPECT_TRUE(keyExists(L"Software\\Quillbex\\SyncclientPIM\\sources\\note"));
  EXPECT_EQ(RegOpenKeyExW(key, L"", 0, KEY_READ, &self), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(self), L"sources");
}

TEST_F(RegistryKeyTest, SlashIsAnOrdinaryCharacterAndBadNamesAreInvalidParameters) {
  createKey(L"Software\\Quillbex\\a/b");
  EXPECT_FALSE(keyExists(L"Software\\Quillbex\\a"));
  EXPECT_EQ(subkeysOf(createKey(L"Software\\Quillbex")), L"a/b");

  std::wstring longest(CE_REGISTRY_MAX_NAME, L'n');
  HKEY parent = createKey(L"Software\\Long");
  HKEY made = createKey((L"Software\\Long\\" + longest).c_str());
  ASSERT_NE(made, nullptr);
  WCHAR buffer[512];
  DWORD chars = CE_REGISTRY_MAX_NAME;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExW(parent, 0, buffer, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(ce::test::setString(made, longest.c_str(), L"x"), ERROR_SUCCESS);
  EXPECT_TRUE(keyExists(L"Software\\Long\\"));

  std::wstring tooLong = longest + L"n";
  EXPECT_EQ(ce::test::setString(made, tooLong.c_str(), L"x"), ERROR_INVALID_PARAMETER);
  const std::wstring bad[] = {L"Software\\Long\\" + tooLong, L"\\Software", L"Software\\\\x",
                              L"\\", std::wstring(L"S\\") + wchar_t(0xD800)};
  for (const auto& path : bad) {
    HKEY result = sentinelKey;
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, path.c_str(), result), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(ce::test::openKey(path.c_str(), result), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(subkeysOf(parent), longest);
}

TEST_F(RegistryKeyTest, DeleteRemovesTheSubtreeAndNothingBeside) {
  HKEY deep = createKey(L"Software\\A\\B\\C");
  ce::test::setString(deep, L"v", L"1");
  HKEY neighbour = createKey(L"Software\\Ab");
  ce::test::setString(neighbour, L"w", L"2");
  createKey(L"Software\\A]");

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"software\\a"), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(createKey(L"Software")), L"Ab,A]");
  EXPECT_EQ(ce::test::getString(neighbour, L"w"), L"2");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_INVALID_PARAMETER);

  // A handle outlives its key: values are gone and nothing can be added below it.
  LONG rc = 0;
  EXPECT_EQ(ce::test::getString(deep, L"v", &rc), L"");
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ce::test::setString(deep, L"v", L"again"), ERROR_KEY_DELETED);
  HKEY below = nullptr;
  EXPECT_EQ(create(deep, L"D", below), ERROR_KEY_DELETED);
  EXPECT_FALSE(keyExists(L"Software\\A"));
}

TEST_F(RegistryKeyTest, ClosedAndMadeUpHandlesAreInvalid) {
  HKEY closed = createKey(L"Software\\Handles");
  ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  for (HKEY handle : {closed, HKEY(nullptr), sentinelKey}) {
    HKEY result = sentinelKey;
    DWORD size = 0;
    EXPECT_EQ(RegCloseKey(handle), ERROR_INVALID_HANDLE);
    EXPECT_EQ(create(handle, L"x", result), ERROR_INVALID_HANDLE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(RegQueryValueExW(handle, L"x", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(ce::test::setString(handle, L"x", L"y"), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

using RegistryValueTest = ce::test::DeviceTest;

// The configuration reads a value in two calls: its size first, then into a buffer that size.
TEST_F(RegistryValueTest, StringSizeCountsTheTerminatorAndAShortBufferIsRefused) {
  HKEY key = createKey(L"Software\\Quillbex\\SyncclientPIM");
  ASSERT_EQ(ce::test::setString(key, L"clientPushList", L"30"), ERROR_SUCCESS);
  DWORD type = 0xdeadbeef, size = 0xdeadbeef;
  ASSERT_EQ(RegQueryValueExW(key, L"clientPushList", nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 3 * sizeof(WCHAR));
  WCHAR buffer[2];
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExW(key, L"clientPushList", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 3 * sizeof(WCHAR));
  EXPECT_EQ(RegQueryValueExW(key, L"missing", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryValueTest, EveryTypeAndOddStringComesBackExactlyAsWritten) {
  HKEY key = createKey(L"Software\\Types");
  auto wide = [](std::vector<WCHAR> chars) {
    std::vector<BYTE> bytes(chars.size() * sizeof(WCHAR));
    std::memcpy(bytes.data(), chars.data(), bytes.size());
    return bytes;
  };
  const struct {
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {L"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}},
      {L"short dword", REG_DWORD, {0x01, 0x02}},
      {L"binary", REG_BINARY, {0x00, 0xff, 0x10}},
      {L"empty binary", REG_BINARY, {}},
      {L"empty string", REG_SZ, {}},
      {L"odd size", REG_SZ, {'a', 0, 0, 0, 'b'}},
      {L"no terminator", REG_SZ, wide({L'a', L'b'})},
      {L"inner nul", REG_SZ, wide({L'a', 0, L'b', 0})},
      {L"surrogate", REG_SZ, wide({static_cast<WCHAR>(0xD800), 0})},
      {L"beyond unicode", REG_SZ, wide({static_cast<WCHAR>(0x110000), 0})},
      {L"multi", REG_MULTI_SZ, wide({L'a', 0, L'b', 0, 0})},
  };
  for (const auto& c : cases)
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, c.type, c.data.empty() ? nullptr : c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  for (const auto& c : cases) {
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::vector<BYTE> back(size + 1, 0xAA);
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, back.data(), &size), ERROR_SUCCESS);
    back.resize(size);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(back, c.data) << c.name;
  }
  EXPECT_EQ(RegSetValueExW(key, L"x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);

  // The default value has the empty name.
  ce::test::setString(key, nullptr, L"default");
  EXPECT_EQ(ce::test::getString(key, L""), L"default");
  EXPECT_EQ(RegDeleteValueW(key, L"BINARY"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"binary"), ERROR_FILE_NOT_FOUND);
}

// Key and value names compare without regard to case in all of Unicode, in new stores and in
// stores written before with ASCII-only folding.
using NameCaseTest = ce::test::DeviceTest;

TEST_F(NameCaseTest, NamesDifferingInAnyLettersCaseAreOneName) {
  HKEY key = createKey(L"Software\\\u00c4rger\\\u03a9mega");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(ce::test::setString(key, L"Gr\u00d6\u00dfe", L"1"), ERROR_SUCCESS);
  DWORD disposition = 0;
  HKEY same = createKey(L"software\\\u00e4RGER\\\u03c9MEGA", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(ce::test::getString(same, L"gr\u00f6\u00dfE"), L"1");
  EXPECT_EQ(ce::test::setString(same, L"GR\u00d6\u00dfE", L"2"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(key, L"gr\u00f6\u00dfe"), L"2");
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
  EXPECT_EQ(ce::test::getString(key, L"wert"), L"alt");
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
  EXPECT_EQ(ce::test::getString(upper, L"WERT"), L"alt");
  EXPECT_EQ(ce::test::setString(lower, L"x", L"y"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::sqlValue(file, "PRAGMA user_version"), "1");
}

}  // namespace
