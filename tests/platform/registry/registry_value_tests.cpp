#include <cstring>
#include <string>
#include <vector>

#include "platform/windows.h"
#include "tests/platform/registry/registry_test_helpers.h"
#include "tests/support/device_test.h"

namespace {

using RegistryValueTest = ce::test::DeviceTest;
using ce::test::createKey;

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

}  // namespace
