// Conversions and log lines against their floor: a log line must cost no more than twice a
// bare open(O_APPEND) + write + close of the same bytes on the same file system.
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "textcore/conversions.h"
#include "textcore/log.h"

namespace {

std::string home;

// 40 bytes, two of them a non-ASCII character
const char kPath[] = "\\My Documents\\Notes\\m\xC3\xA9mo 2010-03-07.pwi";
static_assert(sizeof kPath - 1 == 40);

void BM_ToWideChar40BytePath(benchmark::State& state) {
  for (auto _ : state) {
    wchar_t* wide = toWideChar(kPath);
    benchmark::DoNotOptimize(wide);
    delete[] wide;
  }
}
BENCHMARK(BM_ToWideChar40BytePath);

// The same path in a single-byte and a lead-byte code page, both ways: what a caller naming an
// encoding pays.
const char kPath1252[] = "\\My Documents\\Notes\\m\xE9mo \xE0 lire 2010.pwi";
const char kPath932[] = "\\My Documents\\Notes\\\x93\xfa\x96\x7b\x8c\xea 2010-0307.pwi";
static_assert(sizeof kPath1252 - 1 == 40 && sizeof kPath932 - 1 == 40);

void BM_ToWideChar40BytePathIn1252(benchmark::State& state) {
  for (auto _ : state) {
    wchar_t* wide = toWideChar(kPath1252, "windows-1252");
    benchmark::DoNotOptimize(wide);
    delete[] wide;
  }
}
BENCHMARK(BM_ToWideChar40BytePathIn1252);

void BM_ToMultibyte40BytePathIn1252(benchmark::State& state) {
  wchar_t* wide = toWideChar(kPath1252, "windows-1252");
  for (auto _ : state) {
    char* narrow = toMultibyte(wide, "windows-1252");
    benchmark::DoNotOptimize(narrow);
    delete[] narrow;
  }
  delete[] wide;
}
BENCHMARK(BM_ToMultibyte40BytePathIn1252);

void BM_ToWideChar40BytePathIn932(benchmark::State& state) {
  for (auto _ : state) {
    wchar_t* wide = toWideChar(kPath932, "shift_jis");
    benchmark::DoNotOptimize(wide);
    delete[] wide;
  }
}
BENCHMARK(BM_ToWideChar40BytePathIn932);

void BM_ToMultibyte40BytePathIn932(benchmark::State& state) {
  wchar_t* wide = toWideChar(kPath932, "shift_jis");
  for (auto _ : state) {
    char* narrow = toMultibyte(wide, "shift_jis");
    benchmark::DoNotOptimize(narrow);
    delete[] narrow;
  }
  delete[] wide;
}
BENCHMARK(BM_ToMultibyte40BytePathIn932);

void BM_LogInfoLine(benchmark::State& state) {
  Log* log = sharedLog();
  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  log->setLevel(LogInfo);
  for (auto _ : state) log->info("CP: Item is %lu", 42ul);
}
BENCHMARK(BM_LogInfoLine);

// The same bytes as one line of BM_LogInfoLine.
void BM_BareAppendOfTheSameLine(benchmark::State& state) {
  std::string path = home + "/fs/bare.txt";
  const char line[] = "14:05:09 GMT +1:00 [INFO] - CP: Item is 42\n";
  for (auto _ : state) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, line, sizeof line - 1) != static_cast<ssize_t>(sizeof line - 1))
      state.SkipWithError("bare append failed");
    if (fd >= 0) close(fd);
  }
}
BENCHMARK(BM_BareAppendOfTheSameLine);

// The two above, alternating in one loop so that a change of machine load hits both alike:
// the "ratio" counter is the figure the log is held to (at most 2).
void BM_LogLineOverBareAppend(benchmark::State& state) {
  Log* log = sharedLog();
  log->setDirectory("");
  log->setFileName("notlstnr.txt");
  log->setLevel(LogInfo);
  std::string path = home + "/fs/bare.txt";
  const char line[] = "14:05:09 GMT +1:00 [INFO] - CP: Item is 42\n";
  using Clock = std::chrono::steady_clock;
  Clock::duration logTime{}, bareTime{};
  for (auto _ : state) {
    auto t0 = Clock::now();
    log->info("CP: Item is %lu", 42ul);
    auto t1 = Clock::now();
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, line, sizeof line - 1) != static_cast<ssize_t>(sizeof line - 1))
      state.SkipWithError("bare append failed");
    if (fd >= 0) close(fd);
    auto t2 = Clock::now();
    logTime += t1 - t0;
    bareTime += t2 - t1;
  }
  double n = static_cast<double>(state.iterations());
  state.counters["log_ns"] = std::chrono::duration<double, std::nano>(logTime).count() / n;
  state.counters["bare_ns"] = std::chrono::duration<double, std::nano>(bareTime).count() / n;
  state.counters["ratio"] = static_cast<double>(logTime.count()) / bareTime.count();
}
BENCHMARK(BM_LogLineOverBareAppend);

// What the listener pays for its many debug calls at level 1.
void BM_LogDebugLineNotWritten(benchmark::State& state) {
  Log* log = sharedLog();
  log->setLevel(LogInfo);
  for (auto _ : state) log->debug("CP: Item is %lu", 42ul);
}
BENCHMARK(BM_LogDebugLineNotWritten);

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  char pattern[] = "/tmp/textcore-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  home = pattern;
  setenv("CE_DEVICE_HOME", home.c_str(), 1);
  std::filesystem::create_directories(home + "/fs");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(home);
  return 0;
}
