// Keys, values and their names in the registry store.
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

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

TEST_F(RegistryKeyTest, PathsAreSplitAsTheDeviceSplitsThem) {
  createKey(L"Software\\Quillbex\\a/b");
  EXPECT_FALSE(keyExists(L"Software\\Quillbex\\a"));
  EXPECT_EQ(subkeysOf(createKey(L"Software\\Quillbex")), L"a/b");

  // Empty components after the first name are skipped, trailing ones too.
  EXPECT_TRUE(keyExists(L"Software\\\\Quillbex\\\\a/b\\\\"));
  EXPECT_EQ(subkeysOf(createKey(L"Software")), L"Quillbex");
  for (const wchar_t* lead : {L"\\Software", L"\\", L"\\\\x"}) {
    HKEY result = sentinelKey;
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, lead, result), ERROR_BAD_PATHNAME) << lead;
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(ce::test::openKey(lead, result), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, lead), ERROR_BAD_PATHNAME);
  }
}

// Lengths count the device's 16-bit characters: one beyond the BMP is two.
TEST_F(RegistryKeyTest, NamesAreLimitedIn16BitCharacters) {
  std::wstring longest(CE_REGISTRY_MAX_NAME, L'n');
  HKEY parent = createKey(L"Software\\Long");
  HKEY made = createKey((L"Software\\Long\\" + longest).c_str());
  ASSERT_NE(made, nullptr);
  WCHAR buffer[512];
  DWORD chars = CE_REGISTRY_MAX_NAME;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExW(parent, 0, buffer, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  std::wstring pairs(127, wchar_t(0x1F600));
  for (const std::wstring& name : {longest + L"n", pairs + wchar_t(0x1F600)}) {
    HKEY result = sentinelKey;
    EXPECT_EQ(create(parent, name.c_str(), result), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(result, nullptr);
  }
  EXPECT_NE(createKey((L"Software\\Long\\" + pairs + L"x").c_str()), nullptr);

  std::wstring longestValue(CE_REGISTRY_MAX_VALUE_NAME, L'v');
  EXPECT_EQ(ce::test::setString(made, longestValue.c_str(), L"x"), ERROR_SUCCESS);
  EXPECT_EQ(ce::test::getString(made, longestValue.c_str()), L"x");
  std::wstring tooLong = longestValue + L"v";
  EXPECT_EQ(ce::test::setString(made, tooLong.c_str(), L"x"), ERROR_INVALID_PARAMETER);
  LONG rc = 0;
  ce::test::getString(made, tooLong.c_str(), &rc);
  EXPECT_EQ(rc, ERROR_FILE_NOT_FOUND);  // no value can have that name
  std::wstring beyond(1, wchar_t(0x110000));
  EXPECT_EQ(ce::test::setString(made, beyond.c_str(), L"x"), ERROR_INVALID_PARAMETER);
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
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);

  // A handle outlives its key: every call through it says the key is gone.
  LONG rc = 0;
  EXPECT_EQ(ce::test::getString(deep, L"v", &rc), L"");
  EXPECT_EQ(rc, ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteValueW(deep, L"v"), ERROR_KEY_DELETED);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExW(deep, L"", 0, KEY_READ, &again), ERROR_KEY_DELETED);
  EXPECT_EQ(ce::test::setString(deep, L"v", L"again"), ERROR_KEY_DELETED);
  HKEY below = nullptr;
  EXPECT_EQ(create(deep, L"D", below), ERROR_KEY_DELETED);
  EXPECT_FALSE(keyExists(L"Software\\A"));

  // "" names the key of the handle itself.
  HKEY self = createKey(L"Software\\Self\\Below");
  HKEY selfParent = createKey(L"Software\\Self");
  EXPECT_EQ(RegDeleteKeyW(selfParent, L""), ERROR_SUCCESS);
  EXPECT_FALSE(keyExists(L"Software\\Self"));
  EXPECT_EQ(ce::test::setString(self, L"v", L"x"), ERROR_KEY_DELETED);
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
  EXPECT_EQ(RegSetValueExW(key, L"x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);

  // The default value has the empty name.
  ce::test::setString(key, nullptr, L"default");
  EXPECT_EQ(ce::test::getString(key, L""), L"default");
  EXPECT_EQ(RegDeleteValueW(key, L"BINARY"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, L"binary"), ERROR_FILE_NOT_FOUND);
}

}  // namespace

namespace {

// Text stored without its terminator comes back with one, counted in the size, and needs room
// for it; the stored bytes themselves are kept as they were.
TEST_F(RegistryValueTest, AStringWithoutTerminatorIsHandedOutWithOne) {
  HKEY key = createKey(L"Software\\Unterminated");
  const WCHAR ab[] = {L'a', L'b'};
  for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ}) {
    ASSERT_EQ(RegSetValueExW(key, L"v", 0, type, reinterpret_cast<const BYTE*>(ab), sizeof ab),
              ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3 * sizeof(WCHAR)) << type;
    WCHAR buffer[4] = {L'*', L'*', L'*', L'*'};
    size = sizeof ab;  // the data fits, its terminator does not
    EXPECT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 3 * sizeof(WCHAR));
    EXPECT_EQ(buffer[0], L'*');
    ASSERT_EQ(RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"ab\0*", 4)) << type;

    WCHAR name[8];
    DWORD nameChars = 8;
    size = sizeof ab;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &nameChars, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 3 * sizeof(WCHAR));
  }
  // A binary value is never given a terminator.
  RegSetValueExW(key, L"b", 0, REG_BINARY, reinterpret_cast<const BYTE*>(ab), sizeof ab);
  DWORD size = 0;
  RegQueryValueExW(key, L"b", nullptr, nullptr, nullptr, &size);
  EXPECT_EQ(size, sizeof ab);
}

// What the device tool relies on when it lists a key: the name even when the data does not
// fit, and the size even when the name does not.
TEST_F(RegistryValueTest, EnumerationTellsWhatDidNotFit) {
  HKEY key = createKey(L"Software\\Enum");
  ce::test::setString(key, L"name", L"data");
  WCHAR name[8] = {L'*', L'*'};
  WCHAR data[8] = {};
  DWORD nameChars = 4, type = 0, size = sizeof data;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameChars, nullptr, &type,
                          reinterpret_cast<BYTE*>(data), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(nameChars, 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5 * sizeof(WCHAR));
  EXPECT_EQ(name[0], L'*');
  nameChars = 8;
  size = 4 * sizeof(WCHAR);
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameChars, nullptr, &type,
                          reinterpret_cast<BYTE*>(data), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(std::wstring(name), L"name");
  EXPECT_EQ(nameChars, 4u);
  EXPECT_EQ(size, 5 * sizeof(WCHAR));
}

}  // namespace
