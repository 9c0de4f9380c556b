// The whole listener under load, in a temporary device: latency from a file's creation and from a
// contact change by another process to the bit in the store, each beside the bare mechanism
// underneath (an inotify reader, a Unix datagram) and the floor (that mechanism plus two fully
// synchronous SQLite commits, the list's and the request's), all measured in the same run (for a
// contact also the part after the change's own call, which holds the PIM store's commit); bursts of
// contact changes and of new files, and the listener's own rate on events that queued up while it
// was stopped, and the system calls that drain costs per event (under strace, in a second drain);
// idle CPU, resident and private memory. Prints one JSON line per figure. The burst of files is
// made twice, the second time beside a process that keeps a core busy.
//
// Usage: listener_bench [--iterations N] [--burst N] [--drain N] [--idle-seconds N]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/linux/process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Percentiles {
  double p50, p99;
};

Percentiles percentiles(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<size_t>(q * (samples.size() - 1))]; };
  return {at(0.50), at(0.99)};
}

void emit(const std::string& name, const std::string& fields) {
  std::printf("{\"benchmark\":\"listener\",\"figure\":\"%s\",%s}\n", name.c_str(), fields.c_str());
  std::fflush(stdout);
}

std::string latencyFields(Percentiles listener, Percentiles bare, Percentiles commits) {
  double floor = bare.p50 + commits.p50;
  char text[384];
  std::snprintf(text, sizeof text,
                "\"p50_us\":%.1f,\"p99_us\":%.1f,\"bare_p50_us\":%.1f,\"bare_p99_us\":%.1f,"
                "\"two_commits_p50_us\":%.1f,\"floor_p50_us\":%.1f,\"ratio_to_floor_p50\":%.2f",
                listener.p50, listener.p99, bare.p50, bare.p99, commits.p50, floor,
                listener.p50 / floor);
  return text;
}

// Two fully synchronous commits of one small value, one to each of two databases (as the list
// and the request go to two), on the device's own disk; one sample per pair.
Percentiles twoCommits(const std::string& dir, int iterations) {
  sqlite3* db[2] = {};
  sqlite3_stmt* upsert[2] = {};
  for (int d = 0; d < 2; ++d) {
    sqlite3_open((dir + "/floor-" + std::to_string(d) + ".db").c_str(), &db[d]);
    sqlite3_exec(db[d],
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                 "CREATE TABLE IF NOT EXISTS t(k TEXT PRIMARY KEY, v INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_prepare_v2(db[d], "INSERT INTO t VALUES('k', ?1) ON CONFLICT(k) DO UPDATE SET v = ?1",
                       -1, &upsert[d], nullptr);
  }
  std::vector<double> samples;
  for (int i = 0; i < iterations; ++i) {
    auto start = Clock::now();
    for (int d = 0; d < 2; ++d) {
      sqlite3_bind_int64(upsert[d], 1, i);
      sqlite3_step(upsert[d]);
      sqlite3_reset(upsert[d]);
    }
    samples.push_back(microsSince(start));
  }
  for (int d = 0; d < 2; ++d) {
    sqlite3_finalize(upsert[d]);
    sqlite3_close(db[d]);
  }
  return percentiles(samples);
}

class Store {
 public:
  Store() : tree_(createTree("Quillbex/SyncclientPIM")),
            node_(tree_->readManagementNode("Quillbex/SyncclientPIM")) {}
  ~Store() {
    delete node_;
    delete tree_;
  }
  int list() {
    char* value = node_->readValue("clientPushList");
    int list = std::atoi(value);
    delete[] value;
    return list;
  }
  void setList(int value) { node_->writeValue("clientPushList", std::to_string(value).c_str()); }
  void set(const char* name, const char* value) { node_->writeValue(name, value); }

 private:
  DMTree* tree_;
  ManagementNode* node_;
};

// Wakes after every commit to the registry: each writer moves the mark in registry.db-commits
// once its commit is durable and visible to readers, so the bit is seen without polling.
// Polling on a timer instead would wake this process every few tens of microseconds while the
// listener works; the scheduler keeps the two on one core, and this process, at normal
// priority, would take it from the listener (which runs below normal) at each wake.
class RegistryCommits {
 public:
  explicit RegistryCommits(const std::string& systemDir) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_add_watch(fd_, (systemDir + "/registry.db-commits").c_str(), IN_MODIFY) < 0) {
      std::perror("listener_bench: watching registry.db-commits");
      std::exit(1);
    }
  }
  ~RegistryCommits() { close(fd_); }
  void drain() {
    char buffer[4096];
    while (read(fd_, buffer, sizeof buffer) > 0) {
    }
  }
  bool wait(long timeoutMicros) {
    pollfd p{fd_, POLLIN, 0};
    timespec timeout{timeoutMicros / 1000000, (timeoutMicros % 1000000) * 1000};
    bool ready = ppoll(&p, 1, &timeout, nullptr) > 0;
    drain();
    return ready;
  }

 private:
  int fd_;
};

// Waits until `bit` is in the list; false after 10 s. The caller drained the commits before
// the change, so the bit can only have landed with a commit since: the list is read after each
// one, never before the first, as a read would hold the core the listener is woken on.
bool waitForBit(Store& store, RegistryCommits& commits, int bit) {
  auto deadline = Clock::now() + std::chrono::seconds(10);
  do {
    if (Clock::now() > deadline) return false;
    commits.wait(100000);
  } while (!(store.list() & bit));
  return true;
}

Percentiles bareInotify(const std::string& dir, int iterations) {
  int fd = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(fd, dir.c_str(), IN_CREATE);
  std::vector<double> samples;
  char buffer[4096];
  for (int i = 0; i < iterations; ++i) {
    std::string path = dir + "/bare-" + std::to_string(i);
    auto start = Clock::now();
    std::ofstream(path) << "x";
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 1000);
    [[maybe_unused]] ssize_t n = read(fd, buffer, sizeof buffer);
    samples.push_back(microsSince(start));
  }
  close(fd);
  return percentiles(samples);
}

Percentiles bareDatagram(int iterations) {
  int pair[2];
  socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair);
  pid_t child = fork();
  if (child == 0) {
    char message[32];
    for (int i = 0; i < iterations; ++i) {
      ssize_t n = recv(pair[1], message, sizeof message, 0);
      if (n > 0) send(pair[1], message, static_cast<size_t>(n), 0);
    }
    _exit(0);
  }
  std::vector<double> samples;
  char message[32] = {};
  for (int i = 0; i < iterations; ++i) {
    auto start = Clock::now();
    send(pair[0], message, sizeof message, 0);
    recv(pair[0], message, sizeof message, 0);
    samples.push_back(microsSince(start) / 2);  // one way
  }
  waitpid(child, nullptr, 0);
  close(pair[0]);
  close(pair[1]);
  return percentiles(samples);
}

long cpuTicks(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::atol(field.c_str());
    if (i == 15) {
      stime = std::atol(field.c_str());
      break;
    }
  }
  return utime + stime;
}

long residentKiB(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Private_Clean + Private_Dirty and Rss of smaps_rollup, in KiB: what the process alone costs
// and what it has in memory, shared pages included.
struct Memory {
  long privateKiB = -1, residentKiB = -1;
};

Memory memoryOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string line;
  Memory memory;
  long privateClean = -1, privateDirty = -1;
  while (std::getline(in, line)) {
    if (line.rfind("Rss:", 0) == 0) memory.residentKiB = std::atol(line.c_str() + 4);
    if (line.rfind("Private_Clean:", 0) == 0) privateClean = std::atol(line.c_str() + 14);
    if (line.rfind("Private_Dirty:", 0) == 0) privateDirty = std::atol(line.c_str() + 14);
  }
  if (privateClean >= 0 && privateDirty >= 0) memory.privateKiB = privateClean + privateDirty;
  return memory;
}

// Counts the system calls of every thread of `pid` between start() and stop() with
// `strace -c`; nothing when strace is not there or cannot attach.
class SyscallCount {
 public:
  SyscallCount(int pid, const std::string& output) : pid_(pid), output_(output) {}
  ~SyscallCount() { stop(); }

  // Attaches and waits until every thread is traced.
  bool start() {
    tracer_ = fork();
    if (tracer_ == 0) {
      std::string pid = std::to_string(pid_);
      int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) dup2(quiet, STDERR_FILENO);
      execlp("strace", "strace", "-f", "-c", "-o", output_.c_str(), "-p", pid.c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (allTraced()) return true;
      int status;
      if (waitpid(tracer_, &status, WNOHANG) == tracer_) {
        tracer_ = -1;
        return false;
      }
      usleep(1000);
    }
    return false;
  }

  // Detaches; the calls counted, their total and the eight most frequent ("name:count").
  std::string stop() {
    if (tracer_ <= 0) return {};
    kill(tracer_, SIGINT);
    waitpid(tracer_, nullptr, 0);
    tracer_ = -1;
    std::ifstream in(output_);
    std::string line;
    std::vector<std::pair<long, std::string>> calls;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::vector<std::string> words;
      for (std::string word; fields >> word;) words.push_back(word);
      if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[0][0]))) continue;
      calls.emplace_back(std::atol(words[3].c_str()), words.back());
    }
    std::sort(calls.rbegin(), calls.rend());
    std::string summary;
    for (const auto& [count, name] : calls) {
      if (name == "total") total_ = count;
      else if (summary.size() < 200) summary += name + ":" + std::to_string(count) + " ";
    }
    return summary;
  }
  long total() const { return total_; }

 private:
  bool allTraced() {
    std::error_code error;
    int threads = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid_) + "/task",
                                                   error)) {
      std::ifstream status(task.path() / "status");
      std::string line;
      while (std::getline(status, line))
        if (line.rfind("TracerPid:", 0) == 0 && std::atol(line.c_str() + 10) == 0) return false;
      ++threads;
    }
    return threads > 0;
  }

  int pid_;
  std::string output_;
  pid_t tracer_ = -1;
  long total_ = -1;
};

size_t countLines(const std::string& path, const std::string& needle) {
  std::ifstream in(path);
  std::string line;
  size_t count = 0;
  while (std::getline(in, line))
    if (line.find(needle) != std::string::npos) ++count;
  return count;
}


// Counts the listener's log lines containing `needle` as they are written. It reads the log
// every 200 µs instead of waking on each write: an inotify reader of the log is woken by
// every line, and the listener, as the writer, pays for each wake-up, which would make the
// listener look slower than it is whenever this counter waits.
class LogCounter {
 public:
  LogCounter(const std::string& path, std::string needle)
      : in_(path, std::ios::binary), needle_(std::move(needle)) {
    in_.seekg(0, std::ios::end);
  }

  // Waits until `count` more lines have been seen or `deadline` passes; the moment the last
  // line was seen, to within the reading period.
  Clock::time_point waitFor(size_t count, Clock::time_point deadline) {
    for (;;) {
      readNew();
      if (seen_ >= count) return Clock::now();
      if (Clock::now() > deadline) return Clock::now();
      usleep(200);
    }
  }
  size_t seen() const { return seen_; }

 private:
  void readNew() {
    in_.clear();
    std::string chunk(1 << 16, '\0');
    for (;;) {
      in_.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      std::streamsize n = in_.gcount();
      if (n <= 0) break;
      partial_.append(chunk.data(), static_cast<size_t>(n));
      in_.clear();
    }
    size_t start = 0, end;
    while ((end = partial_.find('\n', start)) != std::string::npos) {
      if (std::string_view(partial_).substr(start, end - start).find(needle_) !=
          std::string_view::npos)
        ++seen_;
      start = end + 1;
    }
    partial_.erase(0, start);
  }

  std::ifstream in_;
  std::string needle_;
  std::string partial_;
  size_t seen_ = 0;
};

// A process that spins until it is destroyed: the machine's other core busy with someone
// else's work.
class BusyProcess {
 public:
  BusyProcess() : parent_(getpid()), pid_(fork()) {
    if (pid_ == 0) {
      // Dies with the benchmark however it ends (killed, or its output closed under it):
      // left behind, it kept a core busy for hours and skewed every later measurement.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent_) _exit(0);
      volatile unsigned long spin = 0;
      for (;;) spin = spin + 1;
    }
  }
  ~BusyProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  BusyProcess(const BusyProcess&) = delete;
  BusyProcess& operator=(const BusyProcess&) = delete;

 private:
  pid_t parent_;
  pid_t pid_;
};

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}
}  // namespace

const char* const usage =
    "Usage: listener_bench [--iterations N] [--burst N] [--drain N] [--idle-seconds N]\n"
    "Runs a listener in a temporary device and prints one JSON line per figure.\n"
    "  --iterations N    samples per latency figure (200)\n"
    "  --burst N         changes per burst, of contacts and of files (10000)\n"
    "  --drain N         files queued while the listener is stopped (5000)\n"
    "  --idle-seconds N  how long the idle listener is watched (10)\n";

// A whole positive number, or -1.
int positiveNumber(const char* text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno || end == text || *end || value <= 0 || value > 10000000) return -1;
  return static_cast<int>(value);
}

int main(int argc, char** argv) {
  int iterations = 200, burst = 10000, drain = 5000, idleSeconds = 10;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(usage, stdout);
      return 0;
    }
    int* option = !std::strcmp(argv[i], "--iterations")     ? &iterations
                  : !std::strcmp(argv[i], "--burst")        ? &burst
                  : !std::strcmp(argv[i], "--drain")        ? &drain
                  : !std::strcmp(argv[i], "--idle-seconds") ? &idleSeconds
                                                            : nullptr;
    if (!option) {
      std::fprintf(stderr, "listener_bench: unknown option '%s'\n%s", argv[i], usage);
      return 2;
    }
    if (i + 1 == argc || (*option = positiveNumber(argv[i + 1])) < 0) {
      std::fprintf(stderr, "listener_bench: %s takes a whole number above 0\n", argv[i]);
      return 2;
    }
    ++i;
  }
  char pattern[] = "/tmp/listener-bench-XXXXXX";
  std::string home = mkdtemp(pattern);
  setenv("CE_DEVICE_HOME", home.c_str(), 1);
  std::string tools = ce::executableDir() + "/../../apps";
  std::string init = tools + "/cedevice/cedevice init >/dev/null";
  if (std::system(init.c_str()) != 0) {
    std::fprintf(stderr, "listener_bench: cedevice init failed\n");
    return 1;
  }
  Store store;
  store.set("clientPushInterval", "5");
  ce::SpawnOptions options;
  options.argv = {tools + "/notlstnr/notlstnr"};
  options.outputPath = home + "/run/notlstnr.out";
  // A benchmark killed or cut short (its output closed) leaves no listener behind.
  options.endWithStarter = true;
  std::string error;
  ce::Process listenerProcess = ce::Process::start(options, error);
  const int listener = listenerProcess.id();
  if (!listenerProcess.valid()) {
    std::fprintf(stderr, "listener_bench: %s\n", error.c_str());
    return 1;
  }
  std::string log = home + "/fs/notlstnr.txt";
  auto started = Clock::now() + std::chrono::seconds(10);
  while (countLines(log, "CP: Init waiting PIM notification messages...") == 0) {
    if (Clock::now() > started) {
      std::fprintf(stderr, "listener_bench: the listener did not start\n");
      return 1;
    }
    usleep(10000);
  }

  RegistryCommits commits(home + "/system");
  std::string briefcase = home + "/fs/My Documents/Briefcase";
  std::vector<double> fileSamples;
  for (int i = 0; i < iterations; ++i) {
    store.setList(0);
    commits.drain();
    auto start = Clock::now();
    std::ofstream(briefcase + "/file-" + std::to_string(i) + ".doc") << "x";
    if (!waitForBit(store, commits, 0x20)) return 1;
    fileSamples.push_back(microsSince(start));
  }
  fs::create_directories(home + "/bare");
  Percentiles bareFile = bareInotify(home + "/bare", iterations);
  Percentiles fileCommits = twoCommits(home + "/system", iterations);
  emit("file_to_store", latencyFields(percentiles(fileSamples), bareFile, fileCommits));

  DWORD oid = 0;
  ce::pim::addItem(10, "Benchmark", oid);
  std::vector<double> contactSamples, callSamples, afterCallSamples;
  for (int i = 0; i < iterations; ++i) {
    store.setList(0);
    commits.drain();
    auto start = Clock::now();
    ce::pim::changeItem(oid, "Benchmark " + std::to_string(i));
    double call = microsSince(start);
    if (!waitForBit(store, commits, 0x02)) return 1;
    double total = microsSince(start);
    contactSamples.push_back(total);
    callSamples.push_back(call);
    afterCallSamples.push_back(total - call);
  }
  Percentiles bareContact = bareDatagram(iterations);
  Percentiles contactCommits = twoCommits(home + "/system", iterations);
  emit("contact_to_store", latencyFields(percentiles(contactSamples), bareContact, contactCommits));
  // The change's own call holds the PIM store's durable commit, a third one the floor does
  // not count: what follows the call, against the same floor, is the listener's part.
  {
    double floor = bareContact.p50 + contactCommits.p50;
    Percentiles call = percentiles(callSamples), after = percentiles(afterCallSamples);
    char text[160];
    std::snprintf(text, sizeof text,
                  "\"change_call_p50_us\":%.1f,\"after_call_p50_us\":%.1f,"
                  "\"after_call_ratio_to_floor_p50\":%.2f",
                  call.p50, after.p50, after.p50 / floor);
    emit("contact_after_change_call", text);
  }

  char fields[640];
  // A burst of contact changes by this process: every change handled, one request pending.
  LogCounter items(log, "CP: Item is");
  auto burstStart = Clock::now();
  for (int i = 0; i < burst; ++i) ce::pim::changeItem(oid);
  auto produced = Clock::now();
  auto done = items.waitFor(static_cast<size_t>(burst), Clock::now() + std::chrono::seconds(120));
  size_t handled = items.seen();
  size_t pending = ce::notify::pendingRequests().size();
  std::snprintf(fields, sizeof fields,
                "\"changes\":%d,\"handled\":%zu,\"seconds\":%.3f,\"changes_per_second\":%.0f,"
                "\"producer_seconds\":%.3f,\"after_producer_seconds\":%.3f,"
                "\"pending_requests\":%zu,\"list\":%d",
                burst, handled, secondsBetween(burstStart, done),
                handled / secondsBetween(burstStart, done), secondsBetween(burstStart, produced),
                secondsBetween(produced, done), pending, store.list());
  emit("contact_burst", fields);

  // A burst of new files, as fast as this process can make them: every one handled, no
  // overflow at the kernel's default queue size. Then the same again with another process
  // spinning beside it, as a machine busy with something else would be.
  std::string created = "CP Briefcase: Creating Item...";
  auto fileBurst = [&](const char* figure, const std::string& prefix, size_t& burstHandled,
                       size_t& filesPending) {
    LogCounter burstFiles(log, created);
    store.setList(0);
    auto filesStart = Clock::now();
    for (int i = 0; i < burst; ++i)
      std::ofstream(briefcase + "/" + prefix + std::to_string(i)) << "x";
    auto filesProduced = Clock::now();
    auto filesDone =
        burstFiles.waitFor(static_cast<size_t>(burst), Clock::now() + std::chrono::seconds(120));
    burstHandled = burstFiles.seen();
    filesPending = ce::notify::pendingRequests().size();
    std::snprintf(fields, sizeof fields,
                  "\"files\":%d,\"handled\":%zu,\"seconds\":%.3f,\"events_per_second\":%.0f,"
                  "\"producer_seconds\":%.3f,\"after_producer_seconds\":%.3f,"
                  "\"pending_requests\":%zu,\"list\":%d",
                  burst, burstHandled, secondsBetween(filesStart, filesDone),
                  burstHandled / secondsBetween(filesStart, filesDone),
                  secondsBetween(filesStart, filesProduced),
                  secondsBetween(filesProduced, filesDone), filesPending, store.list());
    emit(figure, fields);
  };
  size_t burstHandled = 0, filesPending = 0, busyHandled = 0, busyPending = 0;
  fileBurst("file_burst", "burst-", burstHandled, filesPending);
  {
    BusyProcess busy;
    fileBurst("file_burst_beside_busy_process", "busy-", busyHandled, busyPending);
  }

  // The listener's own rate: the events wait in the kernel's queue while it is stopped, so
  // what is timed from the resume is the listener alone.
  LogCounter drainFiles(log, created);
  kill(listener, SIGSTOP);
  for (int i = 0; i < drain; ++i) std::ofstream(briefcase + "/drain-" + std::to_string(i)) << "x";
  auto resumed = Clock::now();
  kill(listener, SIGCONT);
  auto drained =
      drainFiles.waitFor(static_cast<size_t>(drain), Clock::now() + std::chrono::seconds(120));
  size_t drainHandled = drainFiles.seen();
  std::snprintf(fields, sizeof fields,
                "\"files\":%d,\"handled\":%zu,\"seconds\":%.3f,\"events_per_second\":%.0f,"
                "\"pending_requests\":%zu",
                drain, drainHandled, secondsBetween(resumed, drained),
                drainHandled / secondsBetween(resumed, drained),
                ce::notify::pendingRequests().size());
  emit("file_drain", fields);

  // The same drain again under strace, for the system calls each event costs; its time is
  // strace's, not the listener's, so only the count is reported.
  LogCounter tracedFiles(log, created);
  kill(listener, SIGSTOP);
  for (int i = 0; i < drain; ++i) std::ofstream(briefcase + "/traced-" + std::to_string(i)) << "x";
  SyscallCount syscalls(listener, home + "/run/drain.strace");
  bool traced = syscalls.start();
  kill(listener, SIGCONT);
  tracedFiles.waitFor(static_cast<size_t>(drain), Clock::now() + std::chrono::seconds(300));
  size_t tracedHandled = tracedFiles.seen();
  std::string top = syscalls.stop();
  // strace attaches to a process that is not its own child: root may, and a user where
  // kernel.yama.ptrace_scope is 0. Otherwise the count is -1 and the line says why.
  std::snprintf(fields, sizeof fields,
                "\"files\":%d,\"handled\":%zu,\"syscalls\":%ld,\"syscalls_per_event\":%.2f,"
                "\"top\":\"%s\"%s",
                drain, tracedHandled, traced ? syscalls.total() : -1L,
                traced && tracedHandled ? static_cast<double>(syscalls.total()) / tracedHandled
                                        : -1.0,
                top.c_str(),
                traced ? ""
                       : ",\"note\":\"not counted: strace is missing or may not attach (as a "
                         "user, kernel.yama.ptrace_scope must be 0)\"");
  emit("file_drain_syscalls", fields);
  size_t lost = countLines(log, "Folder changes lost");

  long before = cpuTicks(listener);
  sleep(static_cast<unsigned>(idleSeconds));
  long idle = cpuTicks(listener) - before;
  Memory memory = memoryOf(listener);
  std::snprintf(fields, sizeof fields,
                "\"idle_seconds\":%d,\"cpu_ticks\":%ld,\"rss_kib\":%ld,"
                "\"smaps_rss_kib\":%ld,\"private_kib\":%ld",
                idleSeconds, idle, residentKiB(listener), memory.residentKiB,
                memory.privateKiB);
  emit("idle", fields);

  listenerProcess.terminate();
  int code = listenerProcess.waitForEnd(10000) ? listenerProcess.exitCode() : -1;
  fs::remove_all(home);
  bool right = handled == static_cast<size_t>(burst) && pending == 1 &&
               burstHandled == static_cast<size_t>(burst) && filesPending == 1 &&
               busyHandled == static_cast<size_t>(burst) && busyPending == 1 &&
               drainHandled == static_cast<size_t>(drain) &&
               tracedHandled == static_cast<size_t>(drain) && lost == 0;
  return code == 0 && right && idle == 0 ? 0 : 1;
}
