// What the start-up comparison adds to a listener start when a watched folder holds 10,000
// files (all of them notes, so that every one is described and hashed): the comparison with
// nothing changed, and with one note added while the listener was down (recorded, scheduled).
// The shutdown summaries list the same folders and are measured beside them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "textcore/log.h"
#include "bench/recording/listener_state.h"
#include "recording/client_push.h"
#include "recording/offline_changes.h"

namespace {

namespace fs = std::filesystem;

constexpr int fileCount = 10000;

std::string makeHome() {
  std::string home = bench::makeDeviceHome("/tmp/startup-comparison-bench-XXXXXX");
  std::string notes = home + "/fs/My Documents/Notes";
  fs::create_directories(notes);
  fs::create_directories(home + "/fs/My Documents/Briefcase");
  fs::create_directories(home + "/fs/My Documents/My Pictures");
  for (int i = 0; i < fileCount; ++i)
    std::ofstream(notes + "/note-" + std::to_string(i) + ".pwi") << "note " << i;
  return home;
}

const std::string& home() {
  static const std::string path = makeHome();
  return path;
}

ClientPush* preparedClientPush() {
  home();
  // The first start only remembers what it finds.
  return bench::listenerState(recordChangesWhileStopped);
}

void BM_StartupComparisonNothingChanged(benchmark::State& state) {
  ClientPush* clientPush = preparedClientPush();
  for (auto _ : state) recordChangesWhileStopped(clientPush);
  state.counters["files"] = fileCount;
}
BENCHMARK(BM_StartupComparisonNothingChanged)->Unit(benchmark::kMillisecond);

void BM_StartupComparisonOneNoteAdded(benchmark::State& state) {
  ClientPush* clientPush = preparedClientPush();
  std::string added = home() + "/fs/My Documents/Notes/added.pwi";
  for (auto _ : state) {
    state.PauseTiming();
    if (fs::exists(added)) fs::remove(added);
    else std::ofstream(added) << "added";
    state.ResumeTiming();
    recordChangesWhileStopped(clientPush);
  }
  state.counters["files"] = fileCount;
}
BENCHMARK(BM_StartupComparisonOneNoteAdded)->Unit(benchmark::kMillisecond);

void BM_ShutdownSummaries(benchmark::State& state) {
  ClientPush* clientPush = preparedClientPush();
  for (auto _ : state) rememberFolderSummaries(clientPush);
  state.counters["files"] = fileCount;
}
BENCHMARK(BM_ShutdownSummaries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
