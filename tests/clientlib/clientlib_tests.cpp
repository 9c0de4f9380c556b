#include <climits>
#include <string>
#include <tuple>

#include "clientlib/mainclient.h"
#include "tests/support/child_processes.h"
#include "tests/support/device_test.h"
#include "tests/support/settings.h"

namespace {

using ClientLibraryTest = ce::test::DeviceTest;

std::string storedList() { return ce::test::readSetting("clientPushList"); }
void storeSetting(const char* name, const char* value) { ce::test::writeSetting(name, value); }

TEST_F(ClientLibraryTest, AddDiffCarriesThroughTheCalendarAndRefusesWhatFallsOutside) {
  // Forward onto a leap day and back across a year. (The calendar of the conversions under it,
  // century years and days of the week included, is the time conformance area's.)
  auto fields = [](const SYSTEMTIME& t) {
    return std::tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wMilliseconds);
  };
  SYSTEMTIME leap{2000, 2, 0, 28, 23, 30, 0, 0}, newYear{2025, 1, 0, 1, 0, 0, 0, 500};
  EXPECT_EQ(fields(DT_AddDiff(600000000LL, 60, &leap)), fields({2000, 2, 0, 29, 0, 30, 0, 0}));
  EXPECT_EQ(fields(DT_AddDiff(600000000LL, -1, &newYear)),
            fields({2024, 12, 0, 31, 23, 59, 0, 500}));

  // Out of range, overflow and an invalid base give the all-zero time.
  SYSTEMTIME last{30827, 12, 0, 31, 23, 59, 0, 0};
  EXPECT_EQ(DT_AddDiff(600000000LL, 5, &last).wYear, 0);
  EXPECT_EQ(DT_AddDiff(600000000LL, 1LL << 62, &leap).wYear, 0);
  SYSTEMTIME invalid{1900, 2, 0, 29, 0, 0, 0, 0};  // a century year is no leap year
  EXPECT_EQ(DT_AddDiff(600000000LL, 1, &invalid).wYear, 0);
  EXPECT_EQ(DT_AddDiff(600000000LL, 1, nullptr).wYear, 0);
}

TEST_F(ClientLibraryTest, LogLevelIsOneUnlessANumberIsStored) {
  EXPECT_EQ(getLOGLevel(), 1);
  const std::pair<const char*, int> rows[] = {{"2", 2}, {"0", 0}, {"2x", 1}, {"", 1},
                                              {"99999999999999", 1}, {"2147483647", INT_MAX},
                                              {"2147483648", 1},
                                              {"-2147483648", INT_MIN}, {"-2147483649", 1}};
  for (auto [stored, level] : rows) {
    storeSetting("logLevel", stored);
    EXPECT_EQ(getLOGLevel(), level) << stored;
  }
}

TEST_F(ClientLibraryTest, SyncDirsFollowTheRegistryWithDefaults) {
  RegConfig* config = getRegConfig();
  EXPECT_EQ(config, getRegConfig());
  auto dir = [&](const char* source) { return getSyncDir(getWinSyncSourceConfig(config, source)); };
  EXPECT_STREQ(dir("briefcase"), "\\My Documents\\Briefcase");
  EXPECT_STREQ(dir("note"), "\\My Documents\\Notes");
  EXPECT_STREQ(dir("picture"), "\\My Documents\\My Pictures");
  EXPECT_STREQ(dir("unknown"), "");

  ce::test::writeSetting("dir", "\\Elsewhere\\Caf\xc3\xa9",
                         "Quillbex/SyncclientPIM/sources/briefcase");
  EXPECT_STREQ(dir("briefcase"), "\\My Documents\\Briefcase");
  config->read();
  EXPECT_STREQ(dir("briefcase"), "\\Elsewhere\\Caf\xc3\xa9");
}

TEST_F(ClientLibraryTest, ResetClearsOnlyTheGivenBits) {
  EXPECT_EQ(resetPIMModifications(0x02), 0);
  EXPECT_EQ(storedList(), "");  // nothing recorded: nothing created
  storeSetting("clientPushList", "126");
  EXPECT_EQ(resetPIMModifications(0), 0);
  EXPECT_EQ(storedList(), "126");
  EXPECT_EQ(resetPIMModifications(0x02 | 0x40), 0);
  EXPECT_EQ(storedList(), "60");
  EXPECT_EQ(getPIMModifications(), 60);
}

// A list another program stored in another type is read as the node reads it (a number for a
// REG_DWORD or REG_QWORD, UTF-16 text for the rest), and clearing some of its bits writes
// REG_SZ decimal text that keeps every other bit.
TEST_F(ClientLibraryTest, ListOfAnyTypeIsClearedIntoDecimalText) {
  using ce::test::numberBytes;
  using ce::test::RawValue;
  const uint64_t high = uint64_t{1} << 40;
  struct Case {
    RawValue stored;
    int read;
    int cleared;
    const wchar_t* after;
  };
  const Case cases[] = {
      {{REG_DWORD, numberBytes(0x8000007e, 4)}, static_cast<int>(0x8000007e), 0x42,
       L"2147483708"},
      {{REG_QWORD, numberBytes(high | 18, 8)}, 18, 0x02, L"1099511627792"},
      {{REG_BINARY, {0x36, 0, 0x30, 0, 0, 0}}, 60, 0x04, L"56"},  // "60" in UTF-16
      {{REG_BINARY, {0x34, 0, 0, 0}}, 4, 0x02, L"4"},             // "4", not 52
  };
  for (const Case& c : cases) {
    ce::test::writeRawSetting(L"clientPushList", c.stored);
    EXPECT_EQ(getPIMModifications(), c.read) << c.stored.type;
    EXPECT_EQ(resetPIMModifications(c.cleared), 0);
    EXPECT_EQ(ce::test::readRawSetting(L"clientPushList"),
              (RawValue{REG_SZ, ce::test::textBytes(c.after)}))
        << c.stored.type;
  }
}

// A sync takes only its sources' bits and only those it finds, and a failed one puts them
// back beside what was recorded meanwhile, as decimal text whatever form it was read in. Catches a take that clears
// bits it did not report (lost without a sync) and a put-back that overwrites newer bits.
TEST_F(ClientLibraryTest, TakeClearsWhatItReportsAndRestoreAddsItBack) {
  int taken = -1;
  EXPECT_EQ(takePIMModifications(0x7e, &taken), 0);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(storedList(), "");  // nothing recorded: nothing created
  storeSetting("clientPushList", "199");  // 0x80 and 0x01 belong to no source
  EXPECT_EQ(takePIMModifications(0x7e, &taken), 0);
  EXPECT_EQ(taken, 70);
  EXPECT_EQ(storedList(), "129");
  storeSetting("clientPushList", "145");  // a note recorded during the sync
  EXPECT_EQ(restorePIMModifications(taken), 0);
  EXPECT_EQ(storedList(), "215");

  ce::test::writeRawSetting(L"clientPushList", {REG_DWORD, ce::test::numberBytes(0x12, 4)});
  EXPECT_EQ(takePIMModifications(0x7e, &taken), 0);
  EXPECT_EQ(restorePIMModifications(taken | 0x04), 0);
  EXPECT_EQ(ce::test::readRawSetting(L"clientPushList"),
            (ce::test::RawValue{REG_SZ, ce::test::textBytes(L"22")}));
}

// The launcher clears its bits while the listener, in another process, adds others with an
// unlocked read-modify-write: no bit the listener added may be lost.
TEST_F(ClientLibraryTest, ResetNeverLosesABitSetConcurrently) {
  int lost = 0;
  for (int round = 0; round < 20; ++round) {
    storeSetting("clientPushList", "2");
    ASSERT_TRUE(ce::test::allAtOnce(2, [](int listener) {
      for (int bit = 0x10; bit <= 0x100; bit <<= 1) {
        if (!listener) resetPIMModifications(0x02);
        else storeSetting("clientPushList", std::to_string(std::stoi(storedList()) | bit).c_str());
      }
      return 0;
    }));
    if ((std::stoi(storedList()) & 0x1F0) != 0x1F0) ++lost;
  }
  EXPECT_EQ(lost, 0);
}

}  // namespace
