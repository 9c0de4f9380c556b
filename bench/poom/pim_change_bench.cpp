// A PIM change made by another process, timed from the start of its ce::pim::changeItem until
// the subscribed window's procedure runs in this process: one durable commit of pim.db, the
// read of the subscribers in the same transaction, and one window-message datagram. Beside
// it, the same change with nobody subscribed, in this process, which is the commit alone.
// Reported as p50/p99 in microseconds. The two processes compare steady_clock readings,
// which come from the one monotonic clock of the machine.
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/pimstore.h"
#include "platform/windows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 100;
constexpr int kIterations = 5000;
constexpr UINT kChildFailed = WM_APP + 9;

void reportPercentiles(benchmark::State& state, std::vector<double>& microseconds) {
  if (microseconds.empty()) return;
  std::sort(microseconds.begin(), microseconds.end());
  auto at = [&](double q) {
    return microseconds[static_cast<size_t>(q * static_cast<double>(microseconds.size() - 1))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

bool seen = false;
bool childFailed = false;
Clock::time_point seenAt;

LRESULT CALLBACK subscriberProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PIM_ITEM_CHANGED_REMOTE) {
    seenAt = Clock::now();
    seen = true;
  } else if (message == kChildFailed) {
    childFailed = true;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The other process: one change per byte on `go`, the start time of each back on `started`.
[[noreturn]] void changer(HWND window, DWORD oid, int go, int started) {
  char byte;
  while (read(go, &byte, 1) == 1) {
    Clock::time_point start = Clock::now();
    if (!ce::pim::changeItem(oid)) {
      PostMessageW(window, kChildFailed, 0, 0);
      _exit(1);
    }
    if (write(started, &start, sizeof start) != sizeof start) _exit(1);
  }
  _exit(0);
}

void BM_RemoteChangeToWindowProcedure(benchmark::State& state) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = subscriberProc;
  cls.lpszClassName = L"PimBenchSubscriber";
  RegisterClassW(&cls);
  HWND window = CreateWindowExW(0, cls.lpszClassName, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  void* object = nullptr;
  IFolder* folder = nullptr;
  IItem* item = nullptr;
  CEPROPVAL value{};
  value.propid = PIMPR_FOLDERNOTIFICATIONS;
  value.val.ulVal = PIMFOLDERNOTIFICATION_REMOTE;
  DWORD oid = 0;
  if (!window ||
      FAILED(CoCreateInstance(CLSID_Application, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IPOutlookApp2, &object)) ||
      FAILED(static_cast<IPOutlookApp2*>(object)->Logon(reinterpret_cast<long>(window))) ||
      FAILED(static_cast<IPOutlookApp2*>(object)->GetDefaultFolder(olFolderContacts, &folder)) ||
      FAILED(folder->QueryInterface(IID_IItem, reinterpret_cast<void**>(&item))) ||
      FAILED(item->SetProps(0, 1, &value)) ||
      !ce::pim::addItem(olFolderContacts, "Ann Example", oid)) {
    state.SkipWithError("cannot subscribe a window");
    return;
  }
  auto* app = static_cast<IPOutlookApp2*>(object);

  int go[2], started[2];
  if (pipe(go) != 0 || pipe(started) != 0) {
    state.SkipWithError("pipe");
    return;
  }
  pid_t child = fork();
  if (child == 0) {
    close(go[1]);
    close(started[0]);
    changer(window, oid, go[0], started[1]);
  }
  close(go[0]);
  close(started[1]);

  auto once = [&]() -> double {
    seen = false;
    char byte = 1;
    if (write(go[1], &byte, 1) != 1) return -1;
    MSG msg;
    while (!seen && !childFailed && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    Clock::time_point start;
    if (childFailed || read(started[0], &start, sizeof start) != sizeof start) return -1;
    return std::chrono::duration<double>(seenAt - start).count();
  };
  for (int i = 0; i < kWarmUp; ++i) once();
  std::vector<double> samples;
  samples.reserve(kIterations);
  for (auto _ : state) {
    double elapsed = once();
    if (elapsed < 0) {
      state.SkipWithError("the changing process failed");
      break;
    }
    state.SetIterationTime(elapsed);
    samples.push_back(elapsed * 1e6);
  }
  close(go[1]);
  close(started[0]);
  waitpid(child, nullptr, 0);
  reportPercentiles(state, samples);
  item->Release();
  folder->Release();
  app->Logoff();
  app->Release();
  DestroyWindow(window);
  UnregisterClassW(cls.lpszClassName, nullptr);
}
BENCHMARK(BM_RemoteChangeToWindowProcedure)->UseManualTime()->Iterations(kIterations)
    ->Unit(benchmark::kMicrosecond);

void BM_ChangeWithoutSubscribers(benchmark::State& state) {
  DWORD oid = 0;
  if (!ce::pim::addItem(olFolderTasks, "Call Ann", oid)) {
    state.SkipWithError("cannot add an item");
    return;
  }
  std::vector<double> samples;
  samples.reserve(kIterations);
  for (auto _ : state) {
    auto start = Clock::now();
    ce::pim::changeItem(oid);
    auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    samples.push_back(elapsed * 1e6);
  }
  reportPercentiles(state, samples);
}
BENCHMARK(BM_ChangeWithoutSubscribers)->UseManualTime()->Iterations(kIterations)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  // A device of its own, on the same disk as the working tree's.
  char pattern[] = "/tmp/pim-bench-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  setenv("CE_DEVICE_HOME", pattern, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return 0;
}
