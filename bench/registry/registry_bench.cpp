// The listener's registry work per recorded change against the cheapest durable write SQLite
// can do, in the same run and on the same file system.
//
// The pair: readValue("clientPushList") (RegCreateKeyExW, RegQueryValueExW for the size and
// again for the data, RegCloseKey) then writeValue with flush (RegCreateKeyExW,
// RegSetValueExW, RegFlushKey, RegCloseKey). The baseline: one UPDATE of one row in its own
// transaction on a WAL database with synchronous=FULL, the settings that make each commit
// durable. The *AgainstBareUpdate benchmarks interleave the pair with the baseline so that
// disk noise hits both alike, and report both means and their ratio (the target: at most
// 1.5); ChangePair... makes the registry calls directly, NodeChangePair... goes through the
// listener's DeviceManagementNode, text conversions included.
//
// enum_values: a walk of a key with 200,000 values by ascending index with RegEnumValueW (name,
// type and data of each, as the device tool lists a key) against a bare SELECT stepping
// through the same rows on a connection of its own, in the same run (the target: at most 3).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "config/device_management_node.h"
#include "platform/linux/device.h"
#include "platform/registry_transaction.h"
#include "platform/windows.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string& benchHome() {
  static const std::string home = [] {
    char pattern[] = "/tmp/cedevice-bench-XXXXXX";
    std::string made = mkdtemp(pattern);
    setenv("CE_DEVICE_HOME", made.c_str(), 1);
    return made;
  }();
  return home;
}

class BareTable {
 public:
  BareTable() {
    std::string file = ce::systemDir() + "/bare.db";
    sqlite3_open(file.c_str(), &db_);
    sqlite3_exec(db_,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE IF NOT EXISTS t(id INTEGER PRIMARY KEY, v TEXT);"
                 "INSERT OR REPLACE INTO t VALUES (1, '0');",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db_, "UPDATE t SET v = ?1 WHERE id = 1", -1, &update_, nullptr);
  }
  ~BareTable() {
    sqlite3_finalize(update_);
    sqlite3_close(db_);
  }
  void update(long value) {
    sqlite3_bind_int64(update_, 1, value);
    if (sqlite3_step(update_) != SQLITE_DONE) std::abort();
    sqlite3_reset(update_);
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
};

const wchar_t* const nodeKey = L"Software\\Quillbex\\SyncclientPIM";

std::wstring readValue(const wchar_t* name) {
  HKEY key = nullptr;
  std::wstring text;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, nodeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    std::abort();
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size) {
    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) == ERROR_SUCCESS)
      text = buffer.data();
  }
  RegCloseKey(key);
  return text;
}

void writeValue(const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, nodeKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    std::abort();
  if (RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) != ERROR_SUCCESS)
    std::abort();
  RegFlushKey(key);
  RegCloseKey(key);
}

// The value differs from the one before: SQLite writes nothing, and syncs nothing, for a
// row it would overwrite with the same bytes, which would flatter the pair.
void changePair(long i) {
  std::wstring mask = readValue(L"clientPushList");
  benchmark::DoNotOptimize(mask);
  writeValue(L"clientPushList", std::to_wstring(i % 100));
}

// The same through the listener's own node, text conversions included.
void nodeChangePair(ManagementNode& node, long i) {
  char* mask = node.readValue("clientPushList");
  benchmark::DoNotOptimize(mask);
  delete[] mask;
  node.writeValue("clientPushList", std::to_string(i % 100).c_str());
}

// Both interleaved, in alternating order; reports the mean of each and their ratio.
template <typename Pair>
void againstBareUpdate(benchmark::State& state, Pair pair) {
  benchHome();
  BareTable table;
  Clock::duration bare{}, ours{};
  long i = 0;
  for (auto _ : state) {
    ++i;
    // A sync also flushes what the file system queued before it: alternate who goes first.
    bool bareFirst = i % 2 == 0;
    auto first = [&] { bareFirst ? table.update(i) : pair(i); };
    auto second = [&] { bareFirst ? pair(i) : table.update(i); };
    auto start = Clock::now();
    first();
    auto middle = Clock::now();
    second();
    auto end = Clock::now();
    bare += bareFirst ? middle - start : end - middle;
    ours += bareFirst ? end - middle : middle - start;
  }
  auto micros = [&](Clock::duration total) {
    return std::chrono::duration<double, std::micro>(total).count() / static_cast<double>(i);
  };
  state.counters["bare_us"] = micros(bare);
  state.counters["pair_us"] = micros(ours);
  state.counters["ratio"] = micros(ours) / micros(bare);
}

void BareSynchronousUpdate(benchmark::State& state) {
  benchHome();
  BareTable table;
  long i = 0;
  for (auto _ : state) table.update(++i);
}

void ListenerChangePair(benchmark::State& state) {
  benchHome();
  long i = 0;
  for (auto _ : state) changePair(++i);
}

void ReadValueOnly(benchmark::State& state) {
  benchHome();
  writeValue(L"clientPushList", L"30");
  for (auto _ : state) benchmark::DoNotOptimize(readValue(L"clientPushList"));
}

void ChangePairAgainstBareUpdate(benchmark::State& state) {
  againstBareUpdate(state, [](long i) { changePair(i); });
}

void NodeChangePairAgainstBareUpdate(benchmark::State& state) {
  benchHome();
  DeviceManagementNode node("Quillbex/SyncclientPIM");
  againstBareUpdate(state, [&](long i) { nodeChangePair(node, i); });
}

constexpr int walkedValues = 200000;
const wchar_t* const walkedKey = L"Software\\Walked";

// The key, filled once per process in one transaction.
HKEY walkedKeyHandle() {
  static HKEY key = [] {
    HKEY made = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, walkedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &made, nullptr) != ERROR_SUCCESS)
      std::abort();
    LONG rc = ce::registry::runInTransaction([&]() -> LONG {
      for (int i = 0; i < walkedValues; ++i) {
        std::wstring text = L"data " + std::to_wstring(i);
        LONG set = RegSetValueExW(made, (L"value " + std::to_wstring(i)).c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
        if (set != ERROR_SUCCESS) return set;
      }
      return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) std::abort();
    return made;
  }();
  return key;
}

long walkWithRegEnumValue(HKEY key) {
  long total = 0;
  std::vector<BYTE> data(256);
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD chars = 64, type = 0, size = static_cast<DWORD>(data.size());
    LONG rc = RegEnumValueW(key, i, name, &chars, nullptr, &type, data.data(), &size);
    if (rc == ERROR_NO_MORE_ITEMS) return total;
    if (rc != ERROR_SUCCESS) std::abort();
    total += chars + size;
  }
}

// The same rows read with nothing in between: one statement stepped to its end.
long walkWithBareSelect(sqlite3* db) {
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT name, type, data FROM key_values WHERE key = "
                     "(SELECT id FROM keys WHERE name = 'Walked') ORDER BY id",
                     -1, &rows, nullptr);
  long total = 0;
  while (sqlite3_step(rows) == SQLITE_ROW)
    total += sqlite3_column_bytes(rows, 0) + sqlite3_column_int(rows, 1) +
             sqlite3_column_bytes(rows, 2);
  sqlite3_finalize(rows);
  return total;
}

void EnumValuesAgainstBareSelect(benchmark::State& state) {
  benchHome();
  HKEY key = walkedKeyHandle();
  sqlite3* db = nullptr;
  sqlite3_open_v2((ce::systemDir() + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY,
                  nullptr);
  Clock::duration bare{}, walk{};
  long i = 0;
  for (auto _ : state) {
    ++i;
    auto start = Clock::now();
    benchmark::DoNotOptimize(walkWithBareSelect(db));
    auto middle = Clock::now();
    benchmark::DoNotOptimize(walkWithRegEnumValue(key));
    auto end = Clock::now();
    bare += middle - start;
    walk += end - middle;
  }
  sqlite3_close(db);
  auto millis = [&](Clock::duration total) {
    return std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(i);
  };
  state.counters["values"] = walkedValues;
  state.counters["bare_select_ms"] = millis(bare);
  state.counters["enum_values_ms"] = millis(walk);
  state.counters["ratio"] = millis(walk) / millis(bare);
}

BENCHMARK(BareSynchronousUpdate)->Unit(benchmark::kMicrosecond);
BENCHMARK(ListenerChangePair)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadValueOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(ChangePairAgainstBareUpdate)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(NodeChangePairAgainstBareUpdate)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(EnumValuesAgainstBareSelect)->Name("enum_values")->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(benchHome(), ignored);
  return 0;
}
