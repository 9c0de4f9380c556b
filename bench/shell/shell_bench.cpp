// Shell notifications under load: latency from a file's creation (once open(O_CREAT) has
// returned) to the window procedure seeing its SHCNE_CREATE, beside a bare inotify reader in the same run; and bursts of 10,000
// files created as fast as one writer can, counted through the message loop with none lost,
// once with a window that handles each change at once and once with one that spends half a
// millisecond on each (the listener's durable writes).
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/device.h"
#include "platform/windows.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct WindowSide {
  size_t creates = 0;
  size_t updates = 0;  // SHCNE_UPDATEDIR: events were lost
  Clock::time_point lastSeen;
  std::chrono::microseconds workPerChange{0};
} side;

LRESULT CALLBACK folderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_FILECHANGEINFO) return DefWindowProcW(window, message, wParam, lParam);
  auto* notify = reinterpret_cast<FILECHANGENOTIFY*>(lParam);
  side.lastSeen = Clock::now();
  if (notify->fci.wEventId == SHCNE_CREATE) ++side.creates;
  if (notify->fci.wEventId == SHCNE_UPDATEDIR) ++side.updates;
  SHChangeNotifyFree(notify);
  if (side.workPerChange.count()) {
    auto until = Clock::now() + side.workPerChange;
    while (Clock::now() < until) {
    }
  }
  return 0;
}

HWND window = nullptr;
std::string watched;  // host path of the watched folder, \Bench on the device
int fileCounter = 0;

void createFile() {
  std::string path = watched + "/f" + std::to_string(fileCounter++);
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) ::close(fd);
}

void pumpUntilCreates(size_t count) {
  MSG message;
  while (side.creates < count && GetMessageW(&message, nullptr, 0, 0) > 0)
    DispatchMessageW(&message);
}

void reportPercentiles(benchmark::State& state, std::vector<double>& micros) {
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

void BM_CreateToWindowProcedure(benchmark::State& state) {
  std::vector<double> micros;
  for (auto _ : state) {
    size_t before = side.creates;
    createFile();
    // The kernel has queued the event once the file exists; what it costs to make the file
    // (hundreds of microseconds on a busy disk) is not ours.
    auto start = Clock::now();
    pumpUntilCreates(before + 1);
    double elapsed = std::chrono::duration<double>(side.lastSeen - start).count();
    state.SetIterationTime(elapsed);
    micros.push_back(elapsed * 1e6);
  }
  reportPercentiles(state, micros);
}
BENCHMARK(BM_CreateToWindowProcedure)->UseManualTime()->Iterations(5000);

void BM_BareInotifyReader(benchmark::State& state) {
  int fd = inotify_init1(IN_CLOEXEC);
  std::string folder = watched + "-bare";
  fs::create_directories(folder);
  inotify_add_watch(fd, folder.c_str(), IN_CREATE);
  alignas(8) char buffer[4096];
  std::vector<double> micros;
  int n = 0;
  for (auto _ : state) {
    std::string path = folder + "/f" + std::to_string(n++);
    int file = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (file >= 0) ::close(file);
    auto start = Clock::now();
    if (::read(fd, buffer, sizeof buffer) <= 0) state.SkipWithError("inotify read failed");
    double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    micros.push_back(elapsed * 1e6);
  }
  ::close(fd);
  reportPercentiles(state, micros);
}
BENCHMARK(BM_BareInotifyReader)->UseManualTime()->Iterations(5000);

// One writer thread creates `files` files as fast as it can while this thread runs the loop.
void runBurst(benchmark::State& state, std::chrono::microseconds workPerChange) {
  const size_t files = static_cast<size_t>(state.range(0));
  side.workPerChange = workPerChange;
  for (auto _ : state) {
    size_t before = side.creates;
    size_t updatesBefore = side.updates;
    auto start = Clock::now();
    std::thread writer([files] {
      for (size_t i = 0; i < files; ++i) createFile();
    });
    // An overflow would end the wait early: the missing creates never come.
    MSG message;
    while (side.creates < before + files && side.updates == updatesBefore &&
           GetMessageW(&message, nullptr, 0, 0) > 0)
      DispatchMessageW(&message);
    writer.join();
    double elapsed = std::chrono::duration<double>(side.lastSeen - start).count();
    state.SetIterationTime(elapsed);
    state.counters["events_per_s"] = static_cast<double>(side.creates - before) / elapsed;
    state.counters["lost"] = static_cast<double>(before + files - side.creates);
    state.counters["overflows"] = static_cast<double>(side.updates - updatesBefore);
  }
  side.workPerChange = std::chrono::microseconds(0);
}

void BM_Burst(benchmark::State& state) { runBurst(state, std::chrono::microseconds(0)); }
BENCHMARK(BM_Burst)->Arg(10000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_BurstSlowWindow(benchmark::State& state) {
  runBurst(state, std::chrono::microseconds(500));
}
BENCHMARK(BM_BurstSlowWindow)->Arg(10000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  char pattern[] = "/tmp/shell-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  setenv("CE_DEVICE_HOME", pattern, 1);
  watched = ce::fsRoot() + "/Bench";
  fs::create_directories(watched);

  WNDCLASSW wc{};
  wc.lpfnWndProc = folderProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ShellBenchWindow";
  RegisterClassW(&wc);
  window = CreateWindowExW(0, L"ShellBenchWindow", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  wchar_t path[] = L"\\Bench";
  SHCHANGENOTIFYENTRY entry{SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE, path, FALSE};
  if (!window || !SHChangeNotifyRegister(window, &entry)) return 1;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  SHChangeNotifyDeregister(window);
  DestroyWindow(window);
  fs::remove_all(pattern);
  return 0;
}
