#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "clientlib/mainclient.h"
#include "config/dm_tree.h"
#include "config/management_node.h"
#include "tests/support/device_test.h"

namespace {

using ClientLibraryTest = ce::test::DeviceTest;

std::string storedList() {
  DMTree* tree = createTree("Quillbex/SyncclientPIM");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
  char* value = node->readValue("clientPushList");
  std::string text = value;
  delete[] value;
  delete node;
  delete tree;
  return text;
}

void storeSetting(const char* name, const char* value) {
  DMTree* tree = createTree("Quillbex/SyncclientPIM");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
  node->writeValue(name, value);
  delete node;
  delete tree;
}

// An independent calendar: std::chrono civil days.
SYSTEMTIME addMinutesByChrono(const SYSTEMTIME& base, long long minutes) {
  using namespace std::chrono;
  auto days = sys_days(year{base.wYear} / month{base.wMonth} / day{base.wDay});
  auto when = time_point_cast<milliseconds>(days) + hours{base.wHour} + std::chrono::minutes{base.wMinute} +
              seconds{base.wSecond} + milliseconds{base.wMilliseconds} + std::chrono::minutes{minutes};
  auto dayPoint = floor<std::chrono::days>(when);
  year_month_day date{dayPoint};
  hh_mm_ss<milliseconds> clock{when - dayPoint};
  SYSTEMTIME out{};
  out.wYear = static_cast<WORD>(static_cast<int>(date.year()));
  out.wMonth = static_cast<WORD>(static_cast<unsigned>(date.month()));
  out.wDay = static_cast<WORD>(static_cast<unsigned>(date.day()));
  out.wDayOfWeek = static_cast<WORD>(weekday{dayPoint}.c_encoding());
  out.wHour = static_cast<WORD>(clock.hours().count());
  out.wMinute = static_cast<WORD>(clock.minutes().count());
  out.wSecond = static_cast<WORD>(clock.seconds().count());
  out.wMilliseconds = static_cast<WORD>(clock.subseconds().count());
  return out;
}

bool sameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay &&
         a.wDayOfWeek == b.wDayOfWeek && a.wHour == b.wHour && a.wMinute == b.wMinute &&
         a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

TEST_F(ClientLibraryTest, AddDiffAgreesWithAnIndependentCalendar) {
  std::mt19937_64 random(20261206);
  std::uniform_int_distribution<int> year(1601, 30000), month(1, 12), day(1, 31), hour(0, 23),
      minute(0, 59), ms(0, 999);
  std::uniform_int_distribution<long long> minutes(-6000000, 6000000);
  int checked = 0;
  for (int i = 0; i < 5000; ++i) {
    SYSTEMTIME base{static_cast<WORD>(year(random)), static_cast<WORD>(month(random)), 0,
                    static_cast<WORD>(day(random)),  static_cast<WORD>(hour(random)),
                    static_cast<WORD>(minute(random)), static_cast<WORD>(minute(random)),
                    static_cast<WORD>(ms(random))};
    FILETIME valid;
    if (!SystemTimeToFileTime(&base, &valid)) continue;  // 31 April and the like
    long long count = minutes(random);
    SYSTEMTIME expected = addMinutesByChrono(base, count);
    if (expected.wYear < 1601 || expected.wYear > 30827) continue;
    SYSTEMTIME got = DT_AddDiff(600000000LL, count, &base);
    ASSERT_TRUE(sameTime(got, expected)) << "base " << base.wYear << "-" << base.wMonth << "-"
                                         << base.wDay << " + " << count << " min";
    ++checked;
  }
  EXPECT_GT(checked, 4000);

  // Leap days and century years, both ways.
  SYSTEMTIME leap{2000, 2, 0, 28, 23, 30, 0, 0};
  SYSTEMTIME next = DT_AddDiff(600000000LL, 60, &leap);
  EXPECT_EQ(next.wMonth, 2);
  EXPECT_EQ(next.wDay, 29);
  SYSTEMTIME century{1900, 2, 0, 28, 23, 30, 0, 0};
  next = DT_AddDiff(600000000LL, 60, &century);
  EXPECT_EQ(next.wMonth, 3);
  EXPECT_EQ(next.wDay, 1);
  EXPECT_EQ(next.wDayOfWeek, 4);  // 1 March 1900 was a Thursday

  // Out of range, overflow and an invalid base give the all-zero time.
  SYSTEMTIME last{30827, 12, 0, 31, 23, 59, 0, 0};
  EXPECT_EQ(DT_AddDiff(600000000LL, 5, &last).wYear, 0);
  EXPECT_EQ(DT_AddDiff(600000000LL, 1LL << 62, &leap).wYear, 0);
  SYSTEMTIME invalid{2021, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_EQ(DT_AddDiff(600000000LL, 1, &invalid).wYear, 0);
  EXPECT_EQ(DT_AddDiff(600000000LL, 1, nullptr).wYear, 0);
}

TEST_F(ClientLibraryTest, LogLevelIsOneUnlessANumberIsStored) {
  EXPECT_EQ(getLOGLevel(), 1);
  storeSetting("logLevel", "2");
  EXPECT_EQ(getLOGLevel(), 2);
  storeSetting("logLevel", "0");
  EXPECT_EQ(getLOGLevel(), 0);
  storeSetting("logLevel", "2x");
  EXPECT_EQ(getLOGLevel(), 1);
  storeSetting("logLevel", "");
  EXPECT_EQ(getLOGLevel(), 1);
  storeSetting("logLevel", "99999999999999");
  EXPECT_EQ(getLOGLevel(), 1);
}

TEST_F(ClientLibraryTest, SyncDirsFollowTheRegistryWithDefaults) {
  RegConfig* config = getRegConfig();
  EXPECT_EQ(config, getRegConfig());
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "briefcase")), "\\My Documents\\Briefcase");
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "note")), "\\My Documents\\Notes");
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "picture")), "\\My Documents\\My Pictures");
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "unknown")), "");

  DMTree* tree = createTree("Quillbex/SyncclientPIM/sources");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM/sources/briefcase");
  node->writeValue("dir", "\\Elsewhere\\Caf\xc3\xa9");
  delete node;
  delete tree;
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "briefcase")), "\\My Documents\\Briefcase");
  config->read();
  EXPECT_STREQ(getSyncDir(getWinSyncSourceConfig(config, "briefcase")), "\\Elsewhere\\Caf\xc3\xa9");
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

// The launcher clears its bits while the listener, in another process, keeps adding others
// with its unlocked read-modify-write: no bit the listener added may be lost.
TEST_F(ClientLibraryTest, ResetNeverLosesABitSetConcurrently) {
  storeSetting("clientPushList", "0");
  pid_t child = fork();
  if (child == 0) {
    for (int i = 0; i < 400; ++i) resetPIMModifications(0x02);
    _exit(0);
  }
  const int bits[] = {0x04, 0x08, 0x10, 0x20, 0x40};
  DMTree* tree = createTree("Quillbex/SyncclientPIM");
  ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
  int added = 0;
  for (int i = 0; i < 400; ++i) {
    int bit = (i % 3 == 0) ? 0x02 : bits[(i / 3) % 5];
    char* stored = node->readValue("clientPushList");
    int list = std::atoi(stored) | bit;
    delete[] stored;
    node->writeValue("clientPushList", std::to_string(list).c_str());
    if (bit != 0x02) added |= bit;
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  char* stored = node->readValue("clientPushList");
  int list = std::atoi(stored);
  delete[] stored;
  EXPECT_EQ(list & added, added);
  delete node;
  delete tree;
}

}  // namespace
