#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/win_log.h"
#include "platform/testing.h"
#include "platform/windows.h"
#include "tests/support/device_test.h"

namespace {

class LogTest : public ce::test::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ce::testing::freezeLocalTime(SYSTEMTIME{2010, 3, 0, 7, 14, 5, 9, 250});
    ce::testing::setTimeZoneBias(-60);
  }
  // as the listener configures it at start-up
  static Log* listenerLog() {
    Log* log = sharedLog();
    log->setDirectory("");
    log->setFileName("notlstnr.txt");
    return log;
  }
  std::string logText() const { return ce::test::readFile(hostPath("fs/notlstnr.txt")); }
  void removeLog() const { std::filesystem::remove(hostPath("fs/notlstnr.txt")); }
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int openDescriptors() {
  int count = 0;
  for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST_F(LogTest, LevelsDecideWhichKindsAreWritten) {
  Log* log = listenerLog();
  EXPECT_EQ(log->getLevel(), LogInfo);
  struct { int level; const char* expected; } rows[] = {
      {-1, "14:05:09 GMT +1:00 [ERROR] - e 1\n"},
      {LogErrors, "14:05:09 GMT +1:00 [ERROR] - e 1\n"},
      {LogInfo,
       "14:05:09 GMT +1:00 [ERROR] - e 1\n14:05:09 GMT +1:00 [INFO] - i 2\n"
       "14:05:09 GMT +1:00 [DEBUG] - a 3\n"},
      {LogDebug,
       "14:05:09 GMT +1:00 [ERROR] - e 1\n14:05:09 GMT +1:00 [INFO] - i 2\n"
       "14:05:09 GMT +1:00 [DEBUG] - a 3\n14:05:09 GMT +1:00 [DEBUG] - d 4\n"},
      {7,
       "14:05:09 GMT +1:00 [ERROR] - e 1\n14:05:09 GMT +1:00 [INFO] - i 2\n"
       "14:05:09 GMT +1:00 [DEBUG] - a 3\n14:05:09 GMT +1:00 [DEBUG] - d 4\n"},
  };
  for (const auto& row : rows) {
    removeLog();
    log->setLevel(row.level);
    EXPECT_EQ(log->getLevel(), row.level);
    log->error("e %d", 1);
    log->info("i %d", 2);
    log->debugAtInfo("a %d", 3);
    log->debug("d %d", 4);
    EXPECT_EQ(logText(), row.expected) << "level " << row.level;
  }
  EXPECT_TRUE(log->isEnabled(LogInfo));
  log->setLevel(LogInfo);
  EXPECT_FALSE(log->isEnabled(LogDebug));
}

TEST_F(LogTest, StampsCarryTheStandardOffsetFromUtc) {
  Log* log = listenerLog();
  struct { LONG bias; const char* offset; } rows[] = {
      {-60, "+1:00"}, {0, "+0:00"},   {300, "-5:00"}, {-330, "+5:30"},
      {210, "-3:30"}, {90, "-1:30"},  {45, "-0:45"},  {-765, "+12:45"},
  };
  std::string expected;
  for (const auto& row : rows) {
    ce::testing::setTimeZoneBias(row.bias);
    log->info("bias %ld", static_cast<long>(row.bias));
    expected += std::string("14:05:09 GMT ") + row.offset + " [INFO] - bias " +
                std::to_string(row.bias) + "\n";
  }
  ce::testing::freezeLocalTime(SYSTEMTIME{2010, 12, 0, 31, 0, 0, 0, 0});
  log->info("midnight");
  expected += "00:00:00 GMT +12:45 [INFO] - midnight\n";
  EXPECT_EQ(logText(), expected);
}

TEST_F(LogTest, EachMessageIsOneLineWithItsArguments) {
  Log* log = listenerLog();
  log->info("CP: Item is %lu", 4294967295ul);
  log->info("CP note: %S in %s, %x", L"m\u00e9mo \u65e5.pwi", "\\My Documents\\Notes", 255u);
  log->info("ends in its own break\n");
  log->info("%s", "");
  const char* noFormat = nullptr;
  log->error(noFormat);
  std::string big(10000, 'b');
  log->error("%s", big.c_str());
  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - CP: Item is 4294967295\n"
            "14:05:09 GMT +1:00 [INFO] - CP note: m\xC3\xA9mo \xE6\x97\xA5.pwi in "
            "\\My Documents\\Notes, ff\n"
            "14:05:09 GMT +1:00 [INFO] - ends in its own break\n\n"
            "14:05:09 GMT +1:00 [INFO] - \n"
            "14:05:09 GMT +1:00 [ERROR] - (null)\n"
            "14:05:09 GMT +1:00 [ERROR] - " + big + "\n");

  // the caller's last error survives a log call
  SetLastError(1234);
  log->info("x");
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST_F(LogTest, HeaderSizeAndNoFileLeftOpen) {
  Log* log = listenerLog();
  EXPECT_EQ(log->getFileSize(), 0);
  log->info("old line");
  int before = openDescriptors();
  log->reset(nullptr);
  const std::string header =
      "2010-03-07 14:05:09 GMT +1:00 - # Quillbex Windows Mobile Client Log\n\n";
  EXPECT_EQ(logText(), header);
  EXPECT_EQ(log->getFileSize(), static_cast<long>(header.size()));
  EXPECT_EQ(openDescriptors(), before);
  log->reset("Title");
  log->info("after");
  EXPECT_EQ(logText(),
            "2010-03-07 14:05:09 GMT +1:00 - # Title\n\n14:05:09 GMT +1:00 [INFO] - after\n");
  EXPECT_EQ(openDescriptors(), before);

  // a log made with a directory checks the file and, when asked, empties it
  winLog fresh(true, "", "notlstnr.txt");
  EXPECT_EQ(logText(), header);
  EXPECT_EQ(fresh.getLevel(), LogInfo);
  winLog keeping(false, "", "notlstnr.txt");
  EXPECT_EQ(logText(), header);
}

TEST_F(LogTest, PathsComposeFromDirectoryAndFileName) {
  Log* log = sharedLog();
  EXPECT_STREQ(winLog::currentDirectory(), ".");
  EXPECT_STREQ(winLog::currentPath(), ".\\synclog.txt");
  EXPECT_STREQ(winLog::currentMutexName(), L"synclog.txt");
  log->info("unconfigured");
  EXPECT_NE(ce::test::readFile(hostPath("fs/synclog.txt")).find("unconfigured"),
            std::string::npos);

  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  EXPECT_STREQ(winLog::currentPath(), "\\notlstnr.txt");
  EXPECT_STREQ(winLog::currentMutexName(), L"notlstnr.txt");
  log->setDirectory(nullptr);
  EXPECT_STREQ(winLog::currentDirectory(), ".");
  EXPECT_STREQ(winLog::currentPath(), ".\\notlstnr.txt");
  log->setFileName(nullptr);
  EXPECT_STREQ(winLog::currentFileName(), "synclog.txt");
  EXPECT_STREQ(winLog::currentPath(), ".\\synclog.txt");
  EXPECT_STREQ(winLog::currentMutexName(), L"notlstnr.txt");
  log->setFileName("");
  log->setDirectory("\\elsewhere");
  EXPECT_STREQ(winLog::currentPath(), ".\\");
  EXPECT_STREQ(winLog::currentMutexName(), L"synclog.txt");

  std::filesystem::create_directories(hostPath("fs/logs"));
  log->setDirectory("\\logs");
  log->setFileName("j\u00e9.txt");
  EXPECT_STREQ(winLog::currentMutexName(), L"j\u00e9.txt");
  log->info("in a folder");
  EXPECT_EQ(ce::test::readFile(hostPath("fs/logs/j\u00e9.txt")),
            "14:05:09 GMT +1:00 [INFO] - in a folder\n");

  std::string longName(200, 'n');
  log->setFileName(longName.c_str());
  EXPECT_EQ(std::wstring(winLog::currentMutexName()), std::wstring(127, L'n'));
  log->setFileName("\xFF\xFE.txt");  // not UTF-8: one character per byte
  EXPECT_STREQ(winLog::currentMutexName(), L"\u00ff\u00fe.txt");
}

TEST_F(LogTest, UnwritableFilesDropMessagesAndNothingBreaks) {
  Log* log = listenerLog();
  log->setDirectory("\\no such folder");
  log->error("lost");
  log->reset(nullptr);
  EXPECT_EQ(log->getFileSize(), 0);
  EXPECT_FALSE(std::filesystem::exists(hostPath("fs/no such folder")));

  std::filesystem::create_directories(hostPath("fs/notlstnr.txt"));  // a folder in the way
  log->setDirectory("");
  log->error("lost too");
  std::filesystem::remove(hostPath("fs/notlstnr.txt"));

  log->setDirectory("\xFF");  // a path that is not UTF-8 cannot be opened
  log->error("lost as well");
  log->setDirectory("");

  ce::testing::setFailPoint("_wfopen", 0, ERROR_ACCESS_DENIED, 1);
  log->error("refused");
  ce::testing::setFailPoint("CreateMutexW", 0, ERROR_ACCESS_DENIED, 1);
  log->error("no mutex");
  log->error("written");
  EXPECT_EQ(logText(), "14:05:09 GMT +1:00 [ERROR] - written\n");

  // a log made with a directory it cannot write to says so and still works afterwards
  ::testing::internal::CaptureStderr();
  winLog unwritable(false, "\\missing", "x.txt");
  std::string box = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(box,
            "Quillbex: Unable to write log file: \"\\missing\\x.txt\".\n"
            "Please check your user's permissions.\n");
  unwritable.info("dropped");
  ::testing::internal::CaptureStderr();
  std::string longFolder = "\\" + std::string(600, 'd');
  winLog tooLong(false, longFolder.c_str(), "x.txt");
  box = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(box.size(), std::string("Quillbex: ").size() + 511 + 1);
}

TEST_F(LogTest, HeldMutexDropsTheMessage) {
  Log* log = listenerLog();
  HANDLE held = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  ASSERT_NE(held, nullptr);
  log->error("dropped while this process holds it");
  CloseHandle(held);
  log->info("written after");

  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ce::testing::reset();  // its own lock file descriptor, not the parent's
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
    char byte = GetLastError() == ERROR_SUCCESS ? 'y' : 'n';
    if (write(ready[1], &byte, 1) != 1) _exit(2);
    if (read(release[0], &byte, 1) != 1) _exit(3);
    CloseHandle(mutex);
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');
  log->error("dropped while another process holds it");
  sharedLog()->setFileName("other.txt");
  log->error("another name is not excluded");
  sharedLog()->setFileName("notlstnr.txt");
  ASSERT_EQ(write(release[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  log->info("written once it let go");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);

  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - written after\n"
            "14:05:09 GMT +1:00 [INFO] - written once it let go\n");
  EXPECT_EQ(ce::test::readFile(hostPath("fs/other.txt")),
            "14:05:09 GMT +1:00 [ERROR] - another name is not excluded\n");
}

TEST_F(LogTest, TwoProcessesWritingAtOnceLeaveOnlyWholeLines) {
  ce::testing::thawLocalTime();
  listenerLog();
  constexpr int kLines = 1000;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      close(start[1]);
      char byte;
      if (read(start[0], &byte, 1) != 0) _exit(2);  // both start when the pipe closes
      for (int i = 0; i < kLines; ++i)
        sharedLog()->info("writer %c line %d %s", 'A' + w, i, std::string(40, 'x').c_str());
      _exit(0);
    }
  }
  close(start[0]);
  close(start[1]);
  for (pid_t writer : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::string text = logText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  const std::regex shape(
      R"(\d\d:\d\d:\d\d GMT [+-]\d{1,2}:\d\d \[INFO\] - writer ([AB]) line (\d+) x{40})");
  int last[2] = {-1, -1};
  int written = 0;
  for (const std::string& line : linesOf(text)) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    int w = match[1].str()[0] - 'A';
    int number = std::stoi(match[2].str());
    EXPECT_GT(number, last[w]) << line;  // in order, never twice
    last[w] = number;
    ++written;
  }
  EXPECT_GT(written, 0);
  EXPECT_LE(written, 2 * kLines);
}

}  // namespace
