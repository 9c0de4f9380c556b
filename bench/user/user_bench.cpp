// Window messages between two processes: a ping-pong where each side's window procedure posts
// the answer, timed from PostMessageW until the poster's own procedure sees the reply, beside a
// bare ping-pong of datagrams of the same size between two processes in the same run. A round
// is two one-way trips, so one trip (post until the other process's procedure runs) is half a
// round. Reported as p50/p99 of a round in microseconds, with both processes on one CPU and
// wherever the scheduler puts them.
#include <sched.h>
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

#include "platform/linux/user/datagram.h"
#include "platform/windows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 1000;
constexpr int kRounds = 20000;

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

// A process that answers each datagram with itself.
class DatagramEcho {
 public:
  DatagramEcho() {
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(pair_[0]);
      ce::user::WindowMessageDatagram d;
      while (recv(pair_[1], &d, sizeof d, 0) == sizeof d && d.message != WM_QUIT)
        send(pair_[1], &d, sizeof d, 0);
      _exit(0);
    }
    close(pair_[1]);
  }
  ~DatagramEcho() {
    d_.message = WM_QUIT;
    send(pair_[0], &d_, sizeof d_, 0);
    close(pair_[0]);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool ok() const { return pid_ > 0; }
  void round() {
    send(pair_[0], &d_, sizeof d_, 0);
    recv(pair_[0], &d_, sizeof d_, 0);
  }

 private:
  int pair_[2] = {-1, -1};
  pid_t pid_ = -1;
  ce::user::WindowMessageDatagram d_{};
};

// A process whose window answers each posted message with a posted message.
class WindowEcho {
 public:
  explicit WindowEcho(const wchar_t* className) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      makeWindow(className, echoProc);
      char one = 1;
      if (write(ready[1], &one, 1) != 1) _exit(1);
      MSG message;
      while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
      _exit(0);
    }
    char one;
    if (read(ready[0], &one, 1) != 1) pid_ = -1;
    close(ready[0]);
    close(ready[1]);
    target_ = FindWindowW(className, nullptr);
    std::wstring own = std::wstring(className) + L"Ping";
    self_ = makeWindow(own.c_str(), pingProc);
  }
  ~WindowEcho() {
    PostMessageW(target_, WM_CLOSE, 0, 0);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    DestroyWindow(self_);
  }
  bool ok() const { return pid_ > 0 && target_ && self_; }
  bool round() {
    replied = false;
    if (!PostMessageW(target_, kPing, reinterpret_cast<WPARAM>(self_), 0)) return false;
    MSG message;
    while (!replied && GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return true;
  }

 private:
  pid_t pid_ = -1;
  HWND target_ = nullptr;
  HWND self_ = nullptr;
};

double at(std::vector<double>& samples, double q) {
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<size_t>(q * (samples.size() - 1))];
}

// Where the two processes of a round run decides what a bare round costs: on one CPU it is
// two context switches, on two it is two cross-CPU wake-ups, an order of magnitude apart. Left
// to the scheduler, one echo may share the poster's CPU while the other does not, which made
// the ratio swing from run to run. So each placement is pinned: all on one CPU, or the poster
// on one and both echoes on another; within it the two kinds of round alternate, so that
// whatever else the machine does hits both alike.
enum class Placement { oneCpu, twoCpus };

void interleavedRounds(benchmark::State& state, const wchar_t* className, Placement placement) {
  cpu_set_t before;
  sched_getaffinity(0, sizeof before, &before);
  int own = sched_getcpu();
  int other = -1;
  for (int cpu = 0; cpu < CPU_SETSIZE && other < 0; ++cpu)
    if (cpu != own && CPU_ISSET(cpu, &before)) other = cpu;
  if (placement == Placement::twoCpus && other < 0) {
    state.SkipWithError("needs two CPUs");
    for (auto _ : state) {
    }
    return;
  }
  auto pinTo = [](int cpu) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
  };
  // The echoes inherit the affinity at their fork.
  pinTo(placement == Placement::oneCpu ? own : other);
  {
    DatagramEcho bare;
    WindowEcho posted(className);
    pinTo(own);
    if (!bare.ok() || !posted.ok()) {
      state.SkipWithError("an echo process did not start");
    } else {
      for (int i = 0; i < kWarmUp; ++i) {
        bare.round();
        posted.round();
      }
      std::vector<double> bareSamples, postSamples;
      bareSamples.reserve(kRounds);
      postSamples.reserve(kRounds);
      bool failed = false;
      for (auto _ : state) {
        auto start = Clock::now();
        bare.round();
        auto middle = Clock::now();
        failed = !posted.round() || failed;
        auto end = Clock::now();
        bareSamples.push_back(std::chrono::duration<double, std::micro>(middle - start).count());
        postSamples.push_back(std::chrono::duration<double, std::micro>(end - middle).count());
        state.SetIterationTime(std::chrono::duration<double>(end - middle).count());
      }
      if (failed) {
        state.SkipWithError("PostMessageW failed");
      } else {
        state.counters["bare_p50_us"] = at(bareSamples, 0.50);
        state.counters["bare_p99_us"] = at(bareSamples, 0.99);
        state.counters["p50_us"] = at(postSamples, 0.50);
        state.counters["p99_us"] = at(postSamples, 0.99);
        state.counters["ratio_p50"] = state.counters["p50_us"] / state.counters["bare_p50_us"];
      }
    }
  }
  sched_setaffinity(0, sizeof before, &before);
}

void BM_PostMessageRoundAgainstBare_OneCpu(benchmark::State& state) {
  interleavedRounds(state, L"BenchEchoOneCpu", Placement::oneCpu);
}
void BM_PostMessageRoundAgainstBare_TwoCpus(benchmark::State& state) {
  interleavedRounds(state, L"BenchEchoTwoCpus", Placement::twoCpus);
}

BENCHMARK(BM_PostMessageRoundAgainstBare_OneCpu)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostMessageRoundAgainstBare_TwoCpus)
    ->Iterations(kRounds)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

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
