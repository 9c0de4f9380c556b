#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "recording/change_recording.h"
#include "tests/recording/listener_fixture.h"

namespace {

using ChangeRecordingTest = ce::test::ListenerTest;
using ::testing::ElementsAre;

TEST_F(ChangeRecordingTest, ChangeMarksItsSourceAndSchedulesFromItsOwnTime) {
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "2");
  EXPECT_THAT(requests(),
              ElementsAre("2026-03-10 10:01 \\Program Files\\Quillbex\\startsync.exe"));
  EXPECT_THAT(log(), ElementsAre("[DEBUG] - CP: Next scheduled sync of \\Program Files\\Quillbex"
                                 "\\startsync.exe will start at ' 2026-03-10 10.01.00'"));

  // Contacts and Calendar already stored: the list stays, the launcher moves to the new time.
  setValue("clientPushList", "6");
  at(2026, 3, 10, 10, 5);
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "6");
  EXPECT_THAT(requests(),
              ElementsAre("2026-03-10 10:06 \\Program Files\\Quillbex\\startsync.exe"));
  EXPECT_EQ(clientPush->lastChangeTime.wMinute, 5);
  EXPECT_EQ(clientPush->nextSyncTime.wMinute, 6);
}

TEST_F(ChangeRecordingTest, EachSourceSetsItsOwnBit) {
  const std::pair<int, const char*> expected[] = {{10, "2"},   {9, "6"},   {13, "14"},
                                                  {601, "30"}, {600, "62"}, {604, "126"}};
  for (auto [sourceId, value] : expected) {
    setPIMModifications(clientPush, sourceId);
    EXPECT_EQ(list(), value) << sourceId;
  }
  EXPECT_EQ(requests().size(), 1u);
}

TEST_F(ChangeRecordingTest, SuspendedOrUnknownSourceWritesTheListBackUnchanged) {
  setPIMModifications(clientPush, 42);
  EXPECT_EQ(list(), "0");  // an absent list is created
  setValue("clientPushList", "6");
  clientPush->sourceFlags[5] = 1;  // Pictures suspended
  setPIMModifications(clientPush, 604);
  EXPECT_EQ(list(), "6");
  EXPECT_TRUE(requests().empty());
  EXPECT_TRUE(log().empty());
  // Bits nobody knows stay set.
  setValue("clientPushList", "129");
  setPIMModifications(clientPush, 13);
  EXPECT_EQ(list(), "137");
}

TEST_F(ChangeRecordingTest, JunkHugeAndNegativeListsFollowAtoi) {
  setValue("clientPushList", "junk");
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "2");
  setValue("clientPushList", "12abc");
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "14");
  setValue("clientPushList", "-8");
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "-6");
  // Out of range saturates instead of wrapping, so no stored bit can be lost.
  setValue("clientPushList", "99999999999999999999");
  setPIMModifications(clientPush, 10);
  EXPECT_EQ(list(), "2147483647");
}

TEST_F(ChangeRecordingTest, IntervalCarriesThroughTheCalendar) {
  clientPush->pushInterval = 90;
  at(2026, 12, 31, 23, 45);
  setPIMModifications(clientPush, 9);
  EXPECT_THAT(requests(),
              ElementsAre("2027-01-01 01:15 \\Program Files\\Quillbex\\startsync.exe"));
  clientPush->pushInterval = -30;
  setPIMModifications(clientPush, 9);
  EXPECT_THAT(requests(),
              ElementsAre("2026-12-31 23:15 \\Program Files\\Quillbex\\startsync.exe"));
  clientPush->pushInterval = 0;
  setPIMModifications(clientPush, 9);
  EXPECT_THAT(requests(),
              ElementsAre("2026-12-31 23:45 \\Program Files\\Quillbex\\startsync.exe"));
}

TEST_F(ChangeRecordingTest, RefusedRequestStillLogsAndRecords) {
  clientPush->launcherPath = std::wstring(300, L'x') + L"\\startsync.exe";
  EXPECT_FALSE(scheduleNextSync(clientPush));
  setPIMModifications(clientPush, 13);
  EXPECT_EQ(list(), "8");
  EXPECT_TRUE(requests().empty());
  EXPECT_EQ(log().size(), 2u);

  ce::testing::setFailPoint("CeRunAppAtTime", FALSE, ERROR_ACCESS_DENIED);
  clientPush->launcherPath = L"\\x\\startsync.exe";
  EXPECT_FALSE(scheduleNextSync(clientPush));
  ce::testing::clearFailPoints();
  EXPECT_TRUE(scheduleNextSync(clientPush));
}

TEST_F(ChangeRecordingTest, MissingTreeOrNodeIsLoggedAndNothingRecorded) {
  DMTree* tree = clientPush->dmt;
  clientPush->dmt = nullptr;
  setPIMModifications(clientPush, 10);
  clientPush->dmt = tree;
  ManagementNode* node = clientPush->node;
  clientPush->node = nullptr;
  setPIMModifications(clientPush, 10);
  clientPush->node = node;
  EXPECT_THAT(log(), ElementsAre("[ERROR] - CP setPIMModifications: dmt null",
                                 "[ERROR] - CP setPIMModifications: node null"));
  EXPECT_EQ(list(), "");
  EXPECT_TRUE(requests().empty());
}

// Two processes recording different sources at the same moment (two listeners, or one and
// the client) must both end up in the list: the read and the write are one transaction.
TEST_F(ChangeRecordingTest, ConcurrentRecordersNeverLoseABit) {
  struct Recorder {
    pid_t pid;
    int go, done;
  };
  auto start = [&](int sourceId) {
    int go[2], done[2];
    EXPECT_EQ(pipe(go), 0);
    EXPECT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
      char byte;
      while (read(go[0], &byte, 1) == 1 && byte != 'q') {
        setPIMModifications(clientPush, sourceId);
        if (write(done[1], &byte, 1) != 1) break;
      }
      _exit(0);
    }
    close(go[0]);
    close(done[1]);
    return Recorder{pid, go[1], done[0]};
  };
  Recorder contacts = start(10), notes = start(601);
  int lost = 0;
  for (int round = 0; round < 150; ++round) {
    setValue("clientPushList", "0");
    char byte = 'x';
    ASSERT_EQ(write(contacts.go, &byte, 1), 1);
    ASSERT_EQ(write(notes.go, &byte, 1), 1);
    ASSERT_EQ(read(contacts.done, &byte, 1), 1);
    ASSERT_EQ(read(notes.done, &byte, 1), 1);
    if (list() != "18") ++lost;
  }
  for (Recorder recorder : {contacts, notes}) {
    char quit = 'q';  // not EOF: the second child holds the first one's pipe too
    EXPECT_EQ(write(recorder.go, &quit, 1), 1);
    waitpid(recorder.pid, nullptr, 0);
  }
  EXPECT_EQ(lost, 0);
}

TEST_F(ChangeRecordingTest, LoadPushConfigReadsPathAndInterval) {
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"\\startsync.exe");
  EXPECT_EQ(clientPush->pushInterval, 0);  // missing interval

  setValue("path", "\\Program Files\\Caf\xc3\xa9");
  setValue("clientPushInterval", "5");
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"\\Program Files\\Caf\u00e9\\startsync.exe");
  EXPECT_EQ(clientPush->pushInterval, 5);

  setValue("path", "D\\");
  setValue("clientPushInterval", "-15min");
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->launcherPath, L"D\\\\startsync.exe");
  EXPECT_EQ(clientPush->pushInterval, -15);
  setValue("clientPushInterval", "never");
  loadPushConfig(clientPush);
  EXPECT_EQ(clientPush->pushInterval, 0);
}

}  // namespace
