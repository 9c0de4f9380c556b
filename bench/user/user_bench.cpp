// Window messages between two processes: a ping-pong where each side's window procedure posts
// the answer, timed from PostMessageW until the poster's own procedure sees the reply, beside a
// bare ping-pong of datagrams of the same size between two processes in the same run. A round
// is two one-way trips, so one trip (post until the other process's procedure runs) is half a
// round. Reported as p50/p99 of a round in microseconds.
#include <signal.h>
#include <sys/socket.h>
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

#include "platform/user/datagram.h"
#include "platform/windows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 1000;
constexpr int kRounds = 20000;

void reportPercentiles(benchmark::State& state, std::vector<double>& microseconds) {
  std::sort(microseconds.begin(), microseconds.end());
  auto at = [&](double q) { return microseconds[static_cast<size_t>(q * (microseconds.size() - 1))]; };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

void BM_BareDatagramRound(benchmark::State& state) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  pid_t echo = fork();
  if (echo == 0) {
    close(pair[0]);
    ce::user::WindowMessageDatagram d;
    while (recv(pair[1], &d, sizeof d, 0) == sizeof d && d.message != WM_QUIT)
      send(pair[1], &d, sizeof d, 0);
    _exit(0);
  }
  close(pair[1]);
  ce::user::WindowMessageDatagram d{};
  auto round = [&] {
    send(pair[0], &d, sizeof d, 0);
    recv(pair[0], &d, sizeof d, 0);
  };
  for (int i = 0; i < kWarmUp; ++i) round();
  std::vector<double> samples;
  samples.reserve(kRounds);
  for (auto _ : state) {
    auto start = Clock::now();
    round();
    auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    samples.push_back(elapsed * 1e6);
  }
  d.message = WM_QUIT;
  send(pair[0], &d, sizeof d, 0);
  close(pair[0]);
  waitpid(echo, nullptr, 0);
  reportPercentiles(state, samples);
}

constexpr UINT kPing = WM_APP + 1;
constexpr UINT kPong = WM_APP + 2;
bool replied = false;

LRESULT CALLBACK echoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPing) PostMessageW(reinterpret_cast<HWND>(wParam), kPong, 0, 0);
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK pingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kPong) replied = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSW wc{0, procedure, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, className};
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, nullptr, WS_BORDER, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                         nullptr);
}

void BM_PostMessageRound(benchmark::State& state) {
  int ready[2];
  if (pipe(ready) != 0) {
    state.SkipWithError("pipe");
    return;
  }
  pid_t echo = fork();
  if (echo == 0) {
    makeWindow(L"BenchEcho", echoProc);
    char one = 1;
    if (write(ready[1], &one, 1) != 1) _exit(1);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    _exit(0);
  }
  char one;
  if (read(ready[0], &one, 1) != 1) {
    state.SkipWithError("echo process did not start");
    return;
  }
  HWND target = FindWindowW(L"BenchEcho", nullptr);
  HWND self = makeWindow(L"BenchPing", pingProc);
  bool failed = false;
  auto round = [&] {
    replied = false;
    if (!PostMessageW(target, kPing, reinterpret_cast<WPARAM>(self), 0)) {
      failed = true;
      return;
    }
    MSG message;
    while (!replied && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  };
  for (int i = 0; i < kWarmUp; ++i) round();
  std::vector<double> samples;
  samples.reserve(kRounds);
  for (auto _ : state) {
    auto start = Clock::now();
    round();
    auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(elapsed);
    samples.push_back(elapsed * 1e6);
  }
  PostMessageW(target, WM_CLOSE, 0, 0);
  waitpid(echo, nullptr, 0);
  DestroyWindow(self);
  close(ready[0]);
  close(ready[1]);
  if (failed) {
    state.SkipWithError("PostMessageW failed");
    return;
  }
  reportPercentiles(state, samples);
}

BENCHMARK(BM_BareDatagramRound)->Iterations(kRounds)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostMessageRound)->Iterations(kRounds)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  char home[] = "/tmp/user-bench-XXXXXX";
  if (!mkdtemp(home)) return 1;
  setenv("CE_DEVICE_HOME", home, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(home, ignored);
  return 0;
}
