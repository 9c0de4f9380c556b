// One recorded change (setPIMModifications for a source whose flag is clear: the store read,
// the store write with flush, the run-at-time request, which is written only when its due
// second moves, one debug line) against its floor, two fully synchronous SQLite commits,
// measured in the same run.
#include <benchmark/benchmark.h>
#include <chrono>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "recording/change_recording.h"
#include "bench/recording/listener_state.h"
#include "recording/client_push.h"
#include "textcore/log.h"

namespace {

const std::string& home() {
  static const std::string path = bench::makeDeviceHome("/tmp/recording-bench-XXXXXX");
  return path;
}

ClientPush* preparedClientPush() {
  home();
  return bench::listenerState();
}

// The floor: one commit for the list, one for the request, each durable.
class BareCommits {
 public:
  explicit BareCommits(const std::string& file) {
    sqlite3_open(file.c_str(), &db_);
    sqlite3_exec(db_,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v TEXT);"
                 "INSERT OR REPLACE INTO t VALUES (1, '0'), (2, '0');",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "UPDATE t SET v = ?1 WHERE k = ?2", -1, &update_, nullptr);
  }
  ~BareCommits() {
    sqlite3_finalize(update_);
    sqlite3_close(db_);
  }
  // A changing value: SQLite writes nothing for an identical row.
  void commitTwice() {
    for (int key = 1; key <= 2; ++key) {
      sqlite3_bind_int64(update_, 1, ++counter_);
      sqlite3_bind_int(update_, 2, key);
      sqlite3_step(update_);
      sqlite3_reset(update_);
    }
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  long long counter_ = 0;
};

// A list that already holds the bit is not written again, so each round clears it first:
// what is timed is a change that has its bit to record.
void clearList(ClientPush* clientPush) { clientPush->node->writeValue("clientPushList", "0"); }

void BM_SetPIMModifications(benchmark::State& state) {
  ClientPush* clientPush = preparedClientPush();
  for (auto _ : state) {
    state.PauseTiming();
    clearList(clientPush);
    state.ResumeTiming();
    setPIMModifications(clientPush, 10);
  }
}

void BM_TwoBareCommits(benchmark::State& state) {
  BareCommits bare(home() + "/system/bare.db");
  for (auto _ : state) bare.commitTwice();
}

// Alternates the two in one loop so that both see the same disk and the same load.
void BM_RecordingOverTwoCommits(benchmark::State& state) {
  ClientPush* clientPush = preparedClientPush();
  BareCommits bare(home() + "/system/bare2.db");
  double recording = 0, twoCommits = 0;
  for (auto _ : state) {
    clearList(clientPush);
    auto start = std::chrono::steady_clock::now();
    setPIMModifications(clientPush, 10);
    auto middle = std::chrono::steady_clock::now();
    bare.commitTwice();
    auto end = std::chrono::steady_clock::now();
    recording += std::chrono::duration<double, std::micro>(middle - start).count();
    twoCommits += std::chrono::duration<double, std::micro>(end - middle).count();
  }
  state.counters["recording_us"] = recording / static_cast<double>(state.iterations());
  state.counters["two_commits_us"] = twoCommits / static_cast<double>(state.iterations());
  state.counters["ratio"] = recording / twoCommits;
}

BENCHMARK(BM_SetPIMModifications)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TwoBareCommits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordingOverTwoCommits)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
