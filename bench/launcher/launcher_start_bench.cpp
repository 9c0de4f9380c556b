// How soon the launcher starts once its request is due, on a booted device with
// "clientPushInterval" 0 and nothing else touching it: a contact change is committed, and the
// clock runs until the launcher has written its line in \startsync.txt. The request falls due
// when the listener records the change, after the commit, so each figure is an upper bound
// of the start delay; it also holds the launcher's own run up to its line. With
// --without-marker the scheduler's wake-up marker is a folder, so the scheduler can only wake
// on the write to the store's log.
//
// Usage: launcher_start_bench [--changes N] [--without-marker]   (prints one JSON line)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/dm_tree.h"
#include "config/management_node.h"
#include "platform/pimstore.h"
#include "platform/linux/process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

size_t lineCount(const std::string& path) {
  std::ifstream in(path);
  size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

// True while a process runs the device's copy of the launcher.
bool launcherRunning(const std::string& launcher) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path() / "exe", ignored) == launcher) return true;
  }
  return false;
}

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit, std::chrono::microseconds step) {
  auto deadline = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}

int run(const std::string& tools, const std::string& home, int changes, bool withoutMarker) {
  std::string cedevice = tools + "/cedevice/cedevice --home '" + home + "' ";
  if (std::system((cedevice + "init >/dev/null").c_str()) != 0) {
    std::fprintf(stderr, "launcher_start_bench: cedevice init failed\n");
    return 1;
  }
  {
    DMTree* tree = createTree("Quillbex/SyncclientPIM");
    ManagementNode* node = tree->readManagementNode("Quillbex/SyncclientPIM");
    node->writeValue("clientPushInterval", "0");
    delete node;
    delete tree;
  }
  if (std::system((cedevice + "boot --detach >/dev/null").c_str()) != 0) {
    std::fprintf(stderr, "launcher_start_bench: cedevice boot failed\n");
    return 1;
  }
  if (withoutMarker) {
    std::error_code ignored;
    fs::remove(home + "/system/notify.committed", ignored);
    fs::create_directory(home + "/system/notify.committed", ignored);
  }
  const std::string output = home + "/fs/startsync.txt";
  const std::string launcher = home + "/fs/Program Files/Quillbex/startsync.exe";
  std::vector<double> samples;
  DWORD oid = 0;
  for (int i = 0; i < changes; ++i) {
    auto result = i == 0 ? ce::pim::addItem(10, "Bench", oid)
                         : ce::pim::changeItem(oid, "Bench " + std::to_string(i));
    auto committed = Clock::now();
    if (!result) {
      std::fprintf(stderr, "launcher_start_bench: the contact change failed\n");
      return 1;
    }
    if (!waitUntil([&] { return lineCount(output) > static_cast<size_t>(i); },
                   std::chrono::seconds(30), std::chrono::microseconds(500))) {
      std::fprintf(stderr, "launcher_start_bench: change %d never started the launcher\n", i + 1);
      return 1;
    }
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - committed).count());
    // The next change must not meet this run while it clears its bits.
    if (!waitUntil([&] { return !launcherRunning(launcher); }, std::chrono::seconds(30),
                   std::chrono::milliseconds(2))) {
      std::fprintf(stderr, "launcher_start_bench: the launcher does not end\n");
      return 1;
    }
  }
  std::vector<double> sorted = samples;
  std::sort(sorted.begin(), sorted.end());
  std::string all;
  for (double sample : samples) all += (all.empty() ? "" : ",") + std::to_string(sample);
  std::printf("{\"benchmark\":\"launcher_start\",\"wake\":\"%s\",\"changes\":%d,"
              "\"p50_ms\":%.1f,\"max_ms\":%.1f,\"samples_ms\":[%s]}\n",
              withoutMarker ? "log" : "marker", changes, sorted[(sorted.size() - 1) / 2],
              sorted.back(), all.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int changes = 20;
  bool withoutMarker = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--without-marker")) withoutMarker = true;
    else if (!std::strcmp(argv[i], "--changes") && i + 1 < argc)
      changes = std::max(1, std::atoi(argv[++i]));
  }
  char pattern[] = "/tmp/launcher-start-bench-XXXXXX";
  std::string home = mkdtemp(pattern);
  setenv("CE_DEVICE_HOME", home.c_str(), 1);
  std::string tools = ce::executableDir() + "/../../apps";
  int result = run(tools, home, changes, withoutMarker);
  std::string shutdown = tools + "/cedevice/cedevice --home '" + home + "' shutdown >/dev/null";
  if (std::system(shutdown.c_str()) != 0) std::fprintf(stderr, "launcher_start_bench: shutdown failed\n");
  std::error_code ignored;
  fs::remove_all(home, ignored);
  return result;
}
