#include <filesystem>
#include <iterator>
#include <string>

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

int openDescriptors() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                        std::filesystem::directory_iterator()));
}

TEST_F(LogTest, LevelsDecideTheKindsAndStampsCarryTheStandardOffset) {
  Log* log = listenerLog();
  EXPECT_EQ(log->getLevel(), LogInfo);
  const char* const written[] = {"e", "e", "eia", "eiad", "eiad"};
  const int levels[] = {-1, LogErrors, LogInfo, LogDebug, 7};
  for (int i = 0; i < 5; ++i) {
    removeLog();
    log->setLevel(levels[i]);
    log->error("e");
    log->info("i");
    log->debugAtInfo("a");
    log->debug("d");
    std::string expected;
    for (const char* kind = written[i]; *kind; ++kind) {
      const char* tag = *kind == 'e' ? "ERROR" : *kind == 'i' ? "INFO" : "DEBUG";
      expected += std::string("14:05:09 GMT +1:00 [") + tag + "] - " + *kind + "\n";
    }
    EXPECT_EQ(logText(), expected) << "level " << levels[i];
  }

  removeLog();
  struct { LONG bias; const char* offset; } rows[] = {
      {0, "+0:00"}, {300, "-5:00"}, {-330, "+5:30"}, {45, "-0:45"}, {-765, "+12:45"},
  };
  std::string expected;
  for (const auto& row : rows) {
    ce::testing::setTimeZoneBias(row.bias);
    log->error("bias");
    expected += std::string("14:05:09 GMT ") + row.offset + " [ERROR] - bias\n";
  }
  EXPECT_EQ(logText(), expected);
}

TEST_F(LogTest, EachMessageIsOneLineWithItsArgumentsAndLeavesNoFileOpen) {
  Log* log = listenerLog();
  log->info("CP: Item is %lu, %x", 4294967295ul, 255u);
  int descriptors = openDescriptors();
  log->info("CP note: %S in %s", L"m\u00e9mo \u65e5.pwi", "\\My Documents");
  log->info("ends in its own break\n");
  const char* noFormat = nullptr;
  log->error(noFormat);
  std::string big(10000, 'b');
  log->error("%s", big.c_str());
  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - CP: Item is 4294967295, ff\n"
            "14:05:09 GMT +1:00 [INFO] - CP note: m\xC3\xA9mo \xE6\x97\xA5.pwi in \\My Documents\n"
            "14:05:09 GMT +1:00 [INFO] - ends in its own break\n\n"
            "14:05:09 GMT +1:00 [ERROR] - (null)\n"
            "14:05:09 GMT +1:00 [ERROR] - " + big + "\n");
  EXPECT_EQ(openDescriptors(), descriptors);
  SetLastError(1234);  // the caller's last error survives a log call
  log->info("x");
  EXPECT_EQ(GetLastError(), 1234u);
}

// A text handed to the log cannot start a line of its own, whoever chose it (a file name);
// the format's own text stays as written, and numbers print as printf prints them.
TEST_F(LogTest, ControlCharactersInTheTextsGivenAreEscaped) {
  Log* log = listenerLog();
  log->info("CP note:  The %S file is not a note: break",
            L"\\Notes\\x\n12:00:00 GMT +0:00 [ERROR] - forged");
  log->info("%s|%c|%-4s|%.3s|%3s|%ls|%lc", "a\r\tb\x1b\x7f \xC2\x85 caf\xC3\xA9", '\n', "ab",
            "abcdef", "a\n", L"\u0085 bad \xdce9 \x110000 \U0001F600",
            static_cast<wint_t>(L'\x01'));
  log->error("%05d|%-3x|%+.2f|%lld|%zu|%hhu|%o|%*d|%.*s|%%", -42, 255u, 1.5, -1ll, size_t{7},
             257u, 8u, 3, 1, 2, "xyz");
  EXPECT_EQ(logText(),
            "14:05:09 GMT +1:00 [INFO] - CP note:  The \\Notes\\x\\n12:00:00 GMT +0:00 [ERROR] - "
            "forged file is not a note: break\n"
            "14:05:09 GMT +1:00 [INFO] - a\\r\\tb\\x1b\\x7f \\u0085 caf\xC3\xA9|\\n|ab  |abc|a\\n|"
            "\\u0085 bad \xEF\xBF\xBD \xEF\xBF\xBD \xF0\x9F\x98\x80|\\x01\n"
            "14:05:09 GMT +1:00 [ERROR] - -0042|ff |+1.50|-1|7|1|10|  1|xy|%\n");
}

TEST_F(LogTest, UnwritableFilesDropMessagesAndNothingBreaks) {
  Log* log = listenerLog();
  log->setDirectory("\\no such folder");
  log->error("lost");
  EXPECT_FALSE(std::filesystem::exists(hostPath("fs/no such folder")));
  log->setDirectory("\xFF");  // a path that is not UTF-8 cannot be opened
  log->error("lost as well");

  log->setDirectory("");
  std::filesystem::create_directories(hostPath("fs/notlstnr.txt"));  // a folder in the way
  log->error("lost too");
  std::filesystem::remove(hostPath("fs/notlstnr.txt"));
  ce::testing::setFailPoint("_wfopen", 0, ERROR_ACCESS_DENIED, 1);
  log->error("refused");
  ce::testing::setFailPoint("CreateMutexW", 0, ERROR_ACCESS_DENIED, 1);
  log->error("no mutex");
  log->error("written");
  EXPECT_EQ(logText(), "14:05:09 GMT +1:00 [ERROR] - written\n");

  // a log made with a directory it cannot write to says so in a message box, and completes
  ::testing::internal::CaptureStderr();
  winLog unwritable(false, "\\missing", "x.txt");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quillbex: Unable to write log file: \"\\missing\\x.txt\".\n"
            "Please check your user's permissions.\n");
  ::testing::internal::CaptureStderr();
  winLog tooLong(false, ("\\" + std::string(600, 'd')).c_str(), "x.txt");
  EXPECT_EQ(::testing::internal::GetCapturedStderr().size(), 10u + 511u + 1u);
}

// The file's named mutex, held by anyone (here this process), drops the message; another
// file's is no obstacle.
TEST_F(LogTest, HeldMutexDropsTheMessage) {
  Log* log = listenerLog();
  HANDLE held = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
  log->error("dropped while the mutex is held");
  log->setFileName("other.txt");
  log->error("another name is not excluded");
  log->setFileName("notlstnr.txt");
  CloseHandle(held);
  log->info("written after");
  EXPECT_EQ(logText(), "14:05:09 GMT +1:00 [INFO] - written after\n");
  EXPECT_EQ(ce::test::readFile(hostPath("fs/other.txt")),
            "14:05:09 GMT +1:00 [ERROR] - another name is not excluded\n");
}

}  // namespace
