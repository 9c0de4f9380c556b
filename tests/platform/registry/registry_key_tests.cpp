#include <string>

#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using RegistryKeyTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::keyExists;

const HKEY sentinelKey = reinterpret_cast<HKEY>(static_cast<UINT_PTR>(0xdeadbeef));

TEST_F(RegistryKeyTest, CreateMakesTheWholePathAndOpenNeverCreates) {
  HKEY key = sentinelKey;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quillbex", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(keyExists(L"Software"));

  DWORD disposition = 0;
  key = createKey(L"Software\\Quillbex\\SyncclientPIM", &disposition);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_TRUE(keyExists(L"Software"));
  EXPECT_TRUE(keyExists(L"Software\\Quillbex"));
  HKEY again = createKey(L"Software\\Quillbex\\SyncclientPIM", &disposition);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, key);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  // Relative to an open key, and the key itself through an empty subkey.
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExW(key, L"sources\\note", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &child, &disposition),
            ERROR_SUCCESS);
  EXPECT_TRUE(keyExists(L"Software\\Quillbex\\SyncclientPIM\\sources\\note"));
  HKEY self = nullptr;
  EXPECT_EQ(RegOpenKeyExW(key, L"", 0, KEY_READ, &self), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::subkeysOf(self), L"sources");
  for (HKEY open : {key, again, child, self}) EXPECT_EQ(RegCloseKey(open), ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, NamesIgnoreAsciiCaseAndKeepTheCaseTheyWereCreatedWith) {
  HKEY key = createKey(L"Software\\MiXed");
  ASSERT_NE(key, nullptr);
  DWORD disposition = 0;
  HKEY same = createKey(L"SOFTWARE\\mixed\\Child", &disposition);
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(ce::test::subkeysOf(HKEY_LOCAL_MACHINE), L"Software");
  EXPECT_EQ(ce::test::subkeysOf(key), L"Child");
  HKEY parent = nullptr;
  ASSERT_EQ(ce::test::openKey(L"software\\MIXED", parent), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::subkeysOf(parent), L"Child");

  // Only ASCII letters fold: these are two keys.
  HKEY upper = createKey(L"Software\\\u00C4");
  HKEY lower = createKey(L"Software\\\u00E4", &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")), L"MiXed,\u00C4,\u00E4");

  EXPECT_EQ(ce::test::setString(key, L"Path", L"\\Program Files"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::setString(parent, L"PATH", L"\\Windows"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(key, L"path"), L"\\Windows");
  WCHAR name[16];
  DWORD chars = 16;
  ASSERT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name), L"Path");
  EXPECT_EQ(RegEnumValueW(key, 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  for (HKEY open : {key, same, parent, upper, lower}) RegCloseKey(open);
}

TEST_F(RegistryKeyTest, SlashIsAnOrdinaryCharacterAndBadNamesFailWithInvalidParameter) {
  HKEY key = createKey(L"Software\\Quillbex\\a/b");
  ASSERT_NE(key, nullptr);
  EXPECT_FALSE(keyExists(L"Software\\Quillbex\\a"));
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software\\Quillbex")), L"a/b");
  RegCloseKey(key);

  std::wstring longest(CE_REGISTRY_MAX_NAME, L'n');
  HKEY parent = createKey(L"Software\\Long");
  HKEY made = createKey((L"Software\\Long\\" + longest).c_str());
  ASSERT_NE(made, nullptr);
  WCHAR buffer[512];
  DWORD chars = CE_REGISTRY_MAX_NAME;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExW(parent, 0, buffer, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  chars = 512;
  ASSERT_EQ(RegEnumKeyExW(parent, 0, buffer, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(chars, static_cast<DWORD>(CE_REGISTRY_MAX_NAME));
  EXPECT_EQ(std::wstring(buffer), longest);
  EXPECT_EQ(ce::test::setString(made, longest.c_str(), L"x"), ERROR_SUCCESS);

  std::wstring tooLong = longest + L"n";
  HKEY result = sentinelKey;
  const std::wstring bad[] = {L"Software\\Long\\" + tooLong, L"\\Software", L"Software\\\\x",
                              L"\\", L"Software\\\\", std::wstring(L"Software\\") + wchar_t(0xD800)};
  for (const auto& path : bad) {
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &result, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &result),
              ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(ce::test::setString(made, tooLong.c_str(), L"x"), ERROR_INVALID_PARAMETER);
  HKEY trailing = nullptr;
  EXPECT_EQ(ce::test::openKey(L"Software\\Long\\", trailing), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::subkeysOf(trailing), longest);
  RegCloseKey(trailing);
  EXPECT_EQ(ce::test::subkeysOf(parent), longest);
  RegCloseKey(made);
  RegCloseKey(parent);
}

TEST_F(RegistryKeyTest, SubkeysEnumerateInCreationOrderAndInfoCountsThem) {
  HKEY root = createKey(L"Software\\Order");
  for (const wchar_t* name : {L"c", L"a", L"B"}) RegCloseKey(createKey((std::wstring(L"Software\\Order\\") + name).c_str()));
  EXPECT_EQ(ce::test::subkeysOf(root), L"c,a,B");
  WCHAR name[8];
  DWORD chars = 8;
  EXPECT_EQ(RegEnumKeyExW(root, 3, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  ASSERT_EQ(RegDeleteKeyW(root, L"A"), ERROR_SUCCESS);
  RegCloseKey(createKey(L"Software\\Order\\a"));
  EXPECT_EQ(ce::test::subkeysOf(root), L"c,B,a");

  ce::test::setString(root, L"value", L"12345");
  DWORD subKeys = 0xdeadbeef, maxSubKey = 0xdeadbeef, values = 0xdeadbeef, maxName = 0xdeadbeef,
        maxData = 0xdeadbeef;
  ASSERT_EQ(RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                             &values, &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(maxSubKey, 1u);
  EXPECT_EQ(values, 1u);
  EXPECT_EQ(maxName, 5u);
  EXPECT_EQ(maxData, 6 * sizeof(WCHAR));
  RegCloseKey(root);
}

TEST_F(RegistryKeyTest, DeleteRemovesTheSubtreeAndNothingBeside) {
  HKEY deep = createKey(L"Software\\A\\B\\C");
  ce::test::setString(deep, L"v", L"1");
  HKEY neighbour = createKey(L"Software\\Ab");
  ce::test::setString(neighbour, L"w", L"2");
  RegCloseKey(createKey(L"Software\\A b"));
  RegCloseKey(createKey(L"Software\\A]"));

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"software\\a"), ERROR_SUCCESS);
  EXPECT_FALSE(keyExists(L"Software\\A"));
  EXPECT_FALSE(keyExists(L"Software\\A\\B\\C"));
  EXPECT_EQ(ce::test::subkeysOf(createKey(L"Software")), L"Ab,A b,A]");
  EXPECT_EQ(ce::test::getString(neighbour, L"w"), L"2");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\A"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);

  // A handle outlives its key: values are gone and nothing can be added below it.
  LONG rc = 0;
  EXPECT_EQ(ce::test::getString(deep, L"v", &rc), L"");
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ce::test::setString(deep, L"v", L"again"), ERROR_KEY_DELETED);
  DWORD count = 0;
  EXPECT_EQ(RegQueryInfoKeyW(deep, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  HKEY below = nullptr;
  EXPECT_EQ(RegCreateKeyExW(deep, L"D", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &below, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_FALSE(keyExists(L"Software\\A"));
  RegCloseKey(deep);
  RegCloseKey(neighbour);
}

TEST_F(RegistryKeyTest, ClosedAndMadeUpHandlesAreInvalid) {
  HKEY key = createKey(L"Software\\Handles");
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  const HKEY invalid[] = {key, nullptr, sentinelKey};
  for (HKEY handle : invalid) {
    HKEY result = sentinelKey;
    DWORD size = 0;
    WCHAR name[8];
    DWORD chars = 8;
    EXPECT_EQ(RegCloseKey(handle), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegOpenKeyExW(handle, L"x", 0, KEY_READ, &result), ERROR_INVALID_HANDLE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(RegCreateKeyExW(handle, L"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result,
                              nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(handle, L"x", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(ce::test::setString(handle, L"x", L"y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteValueW(handle, L"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyW(handle, L"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegFlushKey(handle), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyExW(handle, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumValueW(handle, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &size, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

  // A reset forgets every handle of the process.
  HKEY open = createKey(L"Software\\Handles");
  ce::testing::reset();
  EXPECT_EQ(RegCloseKey(open), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryKeyTest, FailPointsForceTheChosenResult) {
  ce::testing::setFailPoint("RegCreateKeyExW", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(createKey(L"Software\\X"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(keyExists(L"Software\\X"));
  HKEY key = createKey(L"Software\\X");
  ASSERT_NE(key, nullptr);
  ce::testing::setFailPoint("RegEnumKeyExW", ERROR_GEN_FAILURE, ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(ce::test::subkeysOf(HKEY_LOCAL_MACHINE), L"");
  EXPECT_EQ(ce::test::subkeysOf(HKEY_LOCAL_MACHINE), L"Software");
  RegCloseKey(key);
}

}  // namespace
