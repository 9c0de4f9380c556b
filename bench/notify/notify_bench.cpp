// CeRunAppAtTime per call, beside the floor it cannot go below: one bare fully synchronous
// SQLite commit (WAL, synchronous=FULL, prepared upsert of one row) in the same folder.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/linux/device.h"
#include "platform/notify.h"

namespace {

std::string home;

SYSTEMTIME minuteOf(long long i) {
  return SYSTEMTIME{2024, 3, 0, 1, static_cast<WORD>(i / 60 % 24), static_cast<WORD>(i % 60),
                    0, 0};
}

void CeRunAppAtTimeSameProgram(benchmark::State& state) {
  long long i = 0;
  for (auto _ : state) {
    SYSTEMTIME due = minuteOf(i++);
    if (!CeRunAppAtTime(L"\\Program Files\\Quillbex\\startsync.exe", &due))
      state.SkipWithError("CeRunAppAtTime failed");
  }
}
BENCHMARK(CeRunAppAtTimeSameProgram)->UseRealTime();

void BareSynchronousCommit(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open((ce::systemDir() + "/bare.db").c_str(), &db);
  sqlite3_exec(db,
               "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
               "CREATE TABLE IF NOT EXISTS t(k TEXT PRIMARY KEY, v INTEGER)",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* upsert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO t VALUES('k', ?1) ON CONFLICT(k) DO UPDATE SET v = excluded.v",
                     -1, &upsert, nullptr);
  long long i = 0;
  for (auto _ : state) {
    sqlite3_bind_int64(upsert, 1, i++);
    if (sqlite3_step(upsert) != SQLITE_DONE) state.SkipWithError("commit failed");
    sqlite3_reset(upsert);
  }
  sqlite3_finalize(upsert);
  sqlite3_close(db);
}
BENCHMARK(BareSynchronousCommit)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // A device of its own next to the build, on the disk the device would use; not /tmp, which
  // may be memory and would hide the fsync.
  char pattern[] = "notify-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  home = std::filesystem::absolute(pattern).string();
  setenv("CE_DEVICE_HOME", home.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(home);
  return 0;
}
