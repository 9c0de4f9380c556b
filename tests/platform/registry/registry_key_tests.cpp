// Keys, values and their names in the registry store, where the conformance area's comparison
// with Windows cannot reach: handles to keys below a deleted one, the root, made-up handles,
// wide text no UTF-16 program can write, and the names the store reads back.
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/registry/key_names.h"
#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using RegistryKeyTest = ce::test::DeviceTest;
using ce::test::createKey;
using ce::test::getString;
using ce::test::keyExists;
using ce::test::setString;
using ce::test::subkeysOf;

// A subtree goes by any spelling of its name, with every handle below it; its neighbours,
// whose names start alike in the store, stay.
TEST_F(RegistryKeyTest, DeleteTakesTheSubtreeAndItsHandlesAndLeavesItsNeighbours) {
  HKEY deep = createKey(L"Software\\\u00c4rger\\B\\C");
  ASSERT_EQ(setString(deep, L"v", L"1"), ERROR_SUCCESS);
  for (const wchar_t* neighbour : {L"Software\\\u00c4rger2", L"Software\\\u00c4rger]"})
    setString(createKey(neighbour), L"w", L"2");
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\\u00e4RGER"), ERROR_SUCCESS);
  EXPECT_EQ(subkeysOf(createKey(L"Software")), L"\u00c4rger2,\u00c4rger]");
  EXPECT_EQ(getString(createKey(L"Software\\\u00c4rger2"), L"w"), L"2");
  LONG rc = 0;
  EXPECT_EQ(getString(deep, L"v", &rc), L"");
  EXPECT_EQ(rc, ERROR_KEY_DELETED);
  EXPECT_EQ(setString(deep, L"v", L"again"), ERROR_KEY_DELETED);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKeyExW(deep, L"", 0, KEY_READ, &again), ERROR_KEY_DELETED);
  EXPECT_FALSE(keyExists(L"Software\\\u00c4rger"));

  // "" names the key of the handle itself, which for the root would be everything. (A null
  // name: the registry conformance area's "RegDeleteKeyW null subkey".)
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(keyExists(L"Software"));
}

// Each open is a handle of its own, and closing the root changes nothing. (A handle that is no
// longer open is the registry conformance area's "... closed key" checks.)
TEST_F(RegistryKeyTest, HandlesAreOwnedOneByOneAndTheRootStaysOpen) {
  HKEY first = createKey(L"Software\\Handles"), second = createKey(L"Software\\Handles");
  ASSERT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  EXPECT_EQ(setString(second, L"x", L"y"), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(setString(HKEY_LOCAL_MACHINE, L"x", L"y"), ERROR_SUCCESS);
}

// Strings are kept as the bytes they were given, whatever they hold; a name needs characters
// of Unicode (wchar_t is 32 bits here, so a program can pass what UTF-16 cannot).
TEST_F(RegistryKeyTest, OddStringsComeBackExactlyAsWritten) {
  HKEY key = createKey(L"Software\\Types");
  auto wide = [](std::vector<WCHAR> chars) {
    std::vector<BYTE> bytes(chars.size() * sizeof(WCHAR));
    std::memcpy(bytes.data(), chars.data(), bytes.size());
    return bytes;
  };
  const struct {
    const wchar_t* name;
    std::vector<BYTE> data;
  } cases[] = {
      {L"odd size", {'a', 0, 0, 0, 'b'}},
      {L"inner nul", wide({L'a', 0, L'b', 0})},
      {L"surrogate", wide({static_cast<WCHAR>(0xD800), 0})},
      {L"beyond unicode", wide({static_cast<WCHAR>(0x110000), 0})},
  };
  for (const auto& c : cases)
    ASSERT_EQ(RegSetValueExW(key, c.name, 0, REG_SZ, c.data.data(),
                             static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
  for (const auto& c : cases) {
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    // Room to spare: whatever follows the data is left as it was.
    std::vector<BYTE> back(size + sizeof(WCHAR), 0xAA);
    DWORD stored = size;
    size = static_cast<DWORD>(back.size());
    ASSERT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, back.data(), &size), ERROR_SUCCESS);
    ASSERT_EQ(size, stored) << c.name;
    EXPECT_EQ(std::vector<BYTE>(back.begin() + size, back.end()),
              std::vector<BYTE>(sizeof(WCHAR), 0xAA)) << c.name;
    back.resize(size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(back, c.data) << c.name;
  }
  EXPECT_EQ(setString(key, std::wstring(1, wchar_t(0x110000)).c_str(), L"x"),
            ERROR_INVALID_PARAMETER);

  // Stored without its terminator, as Windows answers: the size is the stored one, a buffer
  // with room gets a NUL after the data, and one without room still succeeds.
  const std::vector<BYTE> ab = wide({L'a', L'b'});
  ASSERT_EQ(RegSetValueExW(key, L"ab", 0, REG_SZ, ab.data(), static_cast<DWORD>(ab.size())),
            ERROR_SUCCESS);
  std::vector<BYTE> terminated = ab;
  terminated.resize(ab.size() + sizeof(WCHAR), 0);
  for (size_t room : {ab.size() + sizeof(WCHAR), ab.size()}) {
    std::vector<BYTE> back(room, 0xAA);
    DWORD size = static_cast<DWORD>(room);
    ASSERT_EQ(RegQueryValueExW(key, L"ab", nullptr, nullptr, back.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, ab.size()) << room;
    EXPECT_EQ(back, std::vector<BYTE>(terminated.begin(), terminated.begin() + room)) << room;
  }
}

// Names come back from the store's UTF-8: a lone surrogate in the three bytes we write for it,
// and bytes a hand edit left that are not UTF-8 one by one as U+DC80..U+DCFF, never lost.
TEST(StoredNameTest, ReadsOurSurrogatesAndKeepsBadBytesApart) {
  using ce::registry::wideNameOf;
  EXPECT_EQ(wideNameOf("Caf\xc3\xa9"), L"Caf\u00e9");
  EXPECT_EQ(wideNameOf("\xf0\x9f\x98\x80"), std::wstring(1, wchar_t(0x1F600)));
  EXPECT_EQ(wideNameOf("\xed\xa0\x80x"), (std::wstring{wchar_t(0xD800), L'x'}));
  EXPECT_EQ(wideNameOf("a\xff" "b"), (std::wstring{L'a', wchar_t(0xDCFF), L'b'}));
  EXPECT_EQ(wideNameOf("\xc0\x80"), (std::wstring{wchar_t(0xDCC0), wchar_t(0xDC80)}));  // overlong
  EXPECT_EQ(wideNameOf("\xe2\x82"), (std::wstring{wchar_t(0xDCE2), wchar_t(0xDC82)}));  // cut short
  EXPECT_EQ(wideNameOf("\xf4\x90\x80\x80").size(), 4u);  // past U+10FFFF
}

}  // namespace
