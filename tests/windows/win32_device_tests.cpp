// What platform/win32/device/ adds to desktop Windows, under Wine: the device's listings, the
// registry transaction's undo and HKEY_LOCAL_MACHINE per device.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/registry_transaction.h"
#include "platform/testing.h"
#include "platform/win32/device/machine_key.h"
#include "platform/win32/device/registry_undo.h"
#include "platform/win32/device/registry_undo_journal.h"
#include "platform/win32/objectstore/object_store.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

using ce::test::DeviceTest;

class ListingTest : public DeviceTest {
 protected:
  std::wstring folder() const { return std::filesystem::path(home()).wstring() + L"\\list"; }

  // Names listed, and how the listing ended.
  std::set<std::wstring> list(DWORD& firstError, std::set<DWORD>* ids = nullptr) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder() + L"\\*").c_str(), &data);
    firstError = find == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      names.insert(data.cFileName);
      if (ids) ids->insert(data.dwOID);
    } while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    return names;
  }
};

// A listing that passed "." and ".." on would make every folder look changed (two entries
// more), and an empty folder would look like one with entries.
TEST_F(ListingTest, DotEntriesAreNeverListedAndAnEmptyFolderSaysFileNotFound) {
  std::filesystem::create_directory(folder());
  DWORD error = 0;
  EXPECT_TRUE(list(error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  std::ofstream(std::filesystem::path(folder()) / "a.txt") << "a";
  std::filesystem::create_directory(std::filesystem::path(folder()) / "sub");
  std::set<DWORD> ids;
  EXPECT_EQ(list(error, &ids), (std::set<std::wstring>{L"a.txt", L"sub"}));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
  // Each entry carries its own identity: two entries never share one, none is left 0.
  EXPECT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids.count(0), 0u);
}

// A folder that does not exist must not read as an empty one.
TEST_F(ListingTest, AMissingFolderSaysPathNotFound) {
  DWORD error = 0;
  EXPECT_TRUE(list(error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The device's files live below its home, as on Linux: a device path that reached the drive's
// root instead would put the log and the watched folders of every device in one place.
TEST_F(ListingTest, DevicePathsNameFilesBelowTheHomesFsFolder) {
  std::filesystem::path fs = std::filesystem::path(home()) / "fs";
  std::filesystem::create_directories(fs / "list");
  FILE* file = _wfopen(L"\\list\\made.txt", L"w");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_TRUE(std::filesystem::exists(fs / "list" / "made.txt"));
  EXPECT_NE(GetFileAttributesW(L"\\list\\made.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(L"\\list\\missing.txt"), INVALID_FILE_ATTRIBUTES);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(L"\\list\\*", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::wstring(data.cFileName), L"made.txt");
  FindClose(find);
  // A host path (with its drive) is left as it is.
  std::wstring host = (fs / "list" / "made.txt").wstring();
  EXPECT_NE(GetFileAttributesW(host.c_str()), INVALID_FILE_ATTRIBUTES);
}

class TransactionTest : public DeviceTest {
 protected:
  static HKEY open(const wchar_t* path) {
    HKEY key = nullptr;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS
               ? key
               : nullptr;
  }
  static HKEY create(const wchar_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static void set(HKEY key, const wchar_t* name, const std::wstring& text) {
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  // The value's text; "<none>" when it does not exist.
  static std::wstring get(const wchar_t* path, const wchar_t* name) {
    HKEY key = open(path);
    if (!key) return L"<no key>";
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::wstring(text) : L"<none>";
  }
};

// A failed body that left its writes would record half a change: every kind of write it made
// must be taken back, while what stood before stays.
TEST_F(TransactionTest, AFailedBodyTakesBackEveryWriteItMade) {
  HKEY kept = create(L"Software\\Kept");
  set(kept, L"old", L"before");
  HKEY doomed = create(L"Software\\Kept\\Doomed");
  set(doomed, L"inside", L"stays");
  RegCloseKey(doomed);

  LONG result = ce::registry::runInTransaction([&]() -> LONG {
    set(kept, L"old", L"changed");
    set(kept, L"new", L"added");
    RegDeleteValueW(kept, L"old");
    HKEY made = create(L"Software\\New\\Deeper");
    set(made, L"x", L"y");
    RegCloseKey(made);
    EXPECT_EQ(RegDeleteKeyW(kept, L"Doomed"), ERROR_SUCCESS);
    return ERROR_ACCESS_DENIED;
  });
  RegCloseKey(kept);

  EXPECT_EQ(result, ERROR_ACCESS_DENIED);
  EXPECT_EQ(get(L"Software\\Kept", L"old"), L"before");
  EXPECT_EQ(get(L"Software\\Kept", L"new"), L"<none>");
  EXPECT_EQ(get(L"Software\\Kept\\Doomed", L"inside"), L"stays");
  // Every level the body made is gone, not only the deepest.
  EXPECT_EQ(open(L"Software\\New"), nullptr);
}

// An exception is a failure too; a nested body's failure, passed on, fails the outer one; a
// body that succeeds keeps everything, and the journal of one transaction never undoes the next.
TEST_F(TransactionTest, ExceptionsAndNestedFailuresRollBackAndSuccessKeeps) {
  HKEY key = create(L"Software\\T");
  EXPECT_THROW(ce::registry::runInTransaction([&]() -> LONG {
                 set(key, L"a", L"thrown");
                 throw std::runtime_error("body failed");
               }),
               std::runtime_error);
  EXPECT_EQ(get(L"Software\\T", L"a"), L"<none>");

  LONG nested = ce::registry::runInTransaction([&]() -> LONG {
    set(key, L"b", L"outer");
    return ce::registry::runInTransaction([&]() -> LONG {
      set(key, L"c", L"inner");
      return ERROR_BUSY;
    });
  });
  EXPECT_EQ(nested, ERROR_BUSY);
  EXPECT_EQ(get(L"Software\\T", L"b"), L"<none>");
  EXPECT_EQ(get(L"Software\\T", L"c"), L"<none>");

  EXPECT_EQ(ce::registry::runInTransaction([&]() -> LONG {
              set(key, L"d", L"kept");
              return ERROR_SUCCESS;
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(ce::registry::runInTransaction([] { return LONG{ERROR_INVALID_DATA}; }),
            ERROR_INVALID_DATA);
  EXPECT_EQ(get(L"Software\\T", L"d"), L"kept");
  RegCloseKey(key);
}

// Two devices sharing one HKEY_LOCAL_MACHINE would read each other's settings.
TEST_F(TransactionTest, EachDeviceHomeHasItsOwnMachineKey) {
  HKEY key = create(L"Software\\Mine");
  set(key, L"v", L"first device");
  RegCloseKey(key);

  std::filesystem::path other = std::filesystem::path(home()) / "other";
  std::filesystem::create_directory(other);
  ASSERT_TRUE(SetEnvironmentVariableW(L"CE_DEVICE_HOME", other.wstring().c_str()));
  ce::testing::reset();
  EXPECT_EQ(get(L"Software\\Mine", L"v"), L"<no key>");

  ASSERT_TRUE(SetEnvironmentVariableW(L"CE_DEVICE_HOME",
                                      std::filesystem::path(home()).wstring().c_str()));
  ce::testing::reset();
  EXPECT_EQ(get(L"Software\\Mine", L"v"), L"first device");
}

// The key outlives the home: a home removed and made again at the same path is a new device,
// and must not find the settings of the one before.
TEST_F(TransactionTest, AHomeMadeAgainStartsWithAnEmptyRegistry) {
  HKEY key = create(L"Software\\Earlier");
  set(key, L"v", L"earlier device");
  RegCloseKey(key);
  ce::testing::reset();
  EXPECT_EQ(get(L"Software\\Earlier", L"v"), L"earlier device");

  std::filesystem::remove_all(std::filesystem::path(home()) / "system");
  ce::testing::reset();
  EXPECT_EQ(get(L"Software\\Earlier", L"v"), L"<no key>");
}

// The undo journal outlives the home too: a journal a killed process left for the earlier
// device would, taken back by the new device's first transaction, remove what the new one
// wrote at the same full key names.
TEST_F(TransactionTest, AHomeMadeAgainDoesNotTakeBackTheEarlierDevicesJournal) {
  std::wstring system;
  ASSERT_EQ(ce::win32::storeFolder(system), ERROR_SUCCESS);
  {
    // What a process killed inside a body leaves: an entry and no commit.
    ce::win32::UndoJournal left(ce::win32::undoJournalKeyPath(system));
    ce::win32::Undo undo;
    undo.kind = ce::win32::Undo::kRemoveKey;
    undo.subKey = L"Software";
    ASSERT_EQ(ce::win32::keyFullName(HKEY_LOCAL_MACHINE, undo.keyPath), ERROR_SUCCESS);
    ASSERT_EQ(left.record(undo), ERROR_SUCCESS);
  }

  std::filesystem::remove_all(std::filesystem::path(home()) / "system");
  ce::testing::reset();
  HKEY key = create(L"Software\\Fresh");
  set(key, L"v", L"new device");
  RegCloseKey(key);
  EXPECT_EQ(ce::registry::runInTransaction([] { return LONG{ERROR_SUCCESS}; }), ERROR_SUCCESS);
  EXPECT_EQ(get(L"Software\\Fresh", L"v"), L"new device");
}

// The journal is read back from the registry, where anything may have altered it: an entry
// cut short anywhere is refused, never read past its end, and a whole one reads back as
// written.
TEST(UndoEntryTest, AnEntryCutShortIsRefusedAndAWholeOneReadsBack) {
  ce::win32::Undo undo;
  undo.kind = ce::win32::Undo::kRemakeKey;
  undo.keyPath = L"\\REGISTRY\\User\\S-1\\Software";
  undo.subKey = L"Doomed";
  undo.values.push_back({L"", true, REG_SZ, {'d', 0, 0, 0}});
  undo.values.push_back({L"gone", false, REG_NONE, {}});
  std::vector<BYTE> bytes = ce::win32::encodeUndo(undo);

  ce::win32::Undo back;
  ASSERT_TRUE(ce::win32::decodeUndo(bytes.data(), bytes.size(), back));
  EXPECT_EQ(back.kind, undo.kind);
  EXPECT_EQ(back.keyPath, undo.keyPath);
  EXPECT_EQ(back.subKey, undo.subKey);
  ASSERT_EQ(back.values.size(), 2u);
  EXPECT_EQ(back.values[0].data, undo.values[0].data);
  EXPECT_EQ(back.values[1].name, L"gone");
  EXPECT_FALSE(back.values[1].existed);

  for (size_t length = 0; length < bytes.size(); ++length)
    EXPECT_FALSE(ce::win32::decodeUndo(bytes.data(), length, back)) << "cut at " << length;
  bytes.push_back(0);
  EXPECT_FALSE(ce::win32::decodeUndo(bytes.data(), bytes.size(), back)) << "a byte too many";
}

}  // namespace
