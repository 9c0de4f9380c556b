// `cedevice init`, `boot` and `shutdown`: the device as a whole.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "apps/cedevice/command.h"
#include "apps/cedevice/control_flags.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_image.h"
#include "platform/device.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/process.h"
#include "platform/user/window_table.h"

namespace {

namespace fs = std::filesystem;
using cedevice::Failure;

const wchar_t* const bootLockName = L"cedevice.boot";
const char* const readyLine = "CP: Init waiting PIM notification messages...";
constexpr int detachTimeoutMs = 10000;
constexpr int shutdownTimeoutMs = 30000;

int readNumber(const std::string& path) {
  std::ifstream in(path);
  int value = 0;
  return (in >> value) ? value : 0;
}

void writeNumber(const std::string& path, int value) {
  std::ofstream out(path, std::ios::trunc);
  out << value << '\n';
}

uintmax_t sizeOf(const std::string& path) {
  std::error_code error;
  uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

// Text appended to `path` since `offset`, whole lines only; advances the offset.
std::string newLines(const std::string& path, uintmax_t& offset) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  in.seekg(static_cast<std::streamoff>(offset));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t end = text.rfind('\n');
  if (end == std::string::npos) return "";
  text.resize(end + 1);
  offset += text.size();
  return text;
}

// Fails when a boot of this device is running or a listener runs without one.
void ensureNotRunning() {
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  bool running = lock && GetLastError() == ERROR_ALREADY_EXISTS;
  if (lock) CloseHandle(lock);
  if (running)
    throw Failure("the device is already running (boot pid " +
                  std::to_string(readNumber(cedevice::runFile("boot.pid"))) + ")");
  if (HWND window = cedevice::findListenerWindow())
    throw Failure("a listener is already running on this device (pid " +
                  std::to_string(cedevice::ownerOf(window)) + ")");
}

int spawnOrFail(ce::SpawnOptions options) {
  std::string error;
  options.environment.emplace_back("CE_DEVICE_HOME", ce::deviceHome());
  int pid = ce::spawnProcess(options, error);
  if (pid < 0) throw Failure("cannot start " + options.argv[0] + ": " + error);
  return pid;
}

// Asks the listener to close through its own close sequence.
void closeListener(int listenerPid) {
  HWND window = cedevice::findListenerWindow();
  if (window && cedevice::ownerOf(window) == listenerPid && PostMessageW(window, WM_CLOSE, 0, 0))
    return;
  ce::terminateProcess(listenerPid);  // its SIGTERM handler posts the same WM_CLOSE
}

// Runs the scheduler and the listener until the listener ends; its exit code.
int boot(bool echoLog) {
  cedevice::initDevice(false);
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  if (!lock) throw Failure("cannot take the device's boot lock (error " +
                           std::to_string(GetLastError()) + ")");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    ensureNotRunning();
    throw Failure("the device is already running");
  }
  if (HWND window = cedevice::findListenerWindow()) {
    CloseHandle(lock);
    throw Failure("a listener is already running on this device (pid " +
                  std::to_string(cedevice::ownerOf(window)) + ")");
  }
  std::string logPath = cedevice::listenerLogPath();
  ce::EventWaiter waiter(logPath);  // before any child: signals are ours to handle
  uintmax_t offset = sizeOf(logPath);
  std::remove(cedevice::runFile("listener.exit").c_str());
  writeNumber(cedevice::runFile("boot.pid"), ce::currentProcessId());
  if (echoLog) std::printf("booting the device in %s (Ctrl-C shuts it down)\n", ce::deviceHome().c_str());
  std::fflush(stdout);

  ce::SpawnOptions scheduler;
  scheduler.argv = {ce::executableDir() + "/cedevice", "scheduler"};
  scheduler.ownProcessGroup = true;
  int schedulerPid = spawnOrFail(scheduler);
  ce::SpawnOptions listener;
  listener.argv = {cedevice::programPath("notlstnr")};
  listener.outputPath = cedevice::runFile("notlstnr.out");
  listener.ownProcessGroup = true;
  int listenerPid = spawnOrFail(listener);
  writeNumber(cedevice::runFile("listener.pid"), listenerPid);

  int exitCode = -1;
  for (;;) {
    auto event = waiter.wait(-1);
    if (echoLog) std::fputs(newLines(logPath, offset).c_str(), stdout);
    std::fflush(stdout);
    if (event == ce::EventWaiter::Event::interrupted) closeListener(listenerPid);
    exitCode = ce::waitChild(listenerPid, 0);
    if (exitCode >= 0) break;
  }
  if (echoLog) std::fputs(newLines(logPath, offset).c_str(), stdout);
  ce::terminateProcess(schedulerPid);
  if (ce::waitChild(schedulerPid, 5000) < 0) {
    std::fprintf(stderr, "cedevice: the scheduler did not stop; ending it\n");
    ce::terminateProcess(schedulerPid);
  }
  writeNumber(cedevice::runFile("listener.exit"), exitCode);
  std::remove(cedevice::runFile("boot.pid").c_str());
  if (echoLog) std::printf("listener exited with code %d\n", exitCode);
  std::fflush(stdout);
  CloseHandle(lock);
  return exitCode;
}

// Boots in the background; returns once the listener waits for messages.
int bootDetached() {
  cedevice::initDevice(false);
  ensureNotRunning();
  std::string logPath = cedevice::listenerLogPath();
  ce::EventWaiter waiter(logPath);
  uintmax_t offset = sizeOf(logPath);
  ce::SpawnOptions daemon;
  daemon.argv = {ce::executableDir() + "/cedevice", "boot", "--quiet"};
  daemon.outputPath = cedevice::runFile("boot.log");
  daemon.newSession = true;
  int daemonPid = spawnOrFail(daemon);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(detachTimeoutMs);
  std::string seen;
  for (;;) {
    seen += newLines(logPath, offset);
    if (seen.find(readyLine) != std::string::npos) {
      std::printf("device booted in %s (listener pid %d)\n", ce::deviceHome().c_str(),
                  readNumber(cedevice::runFile("listener.pid")));
      return 0;
    }
    int ended = ce::waitChild(daemonPid, 0);
    if (ended >= 0) {
      std::string log = cedevice::readText(cedevice::runFile("boot.log"));
      throw Failure("the device stopped while booting (exit code " + std::to_string(ended) +
                    ")" + (log.empty() ? "" : ":\n" + log));
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (waiter.wait(static_cast<int>(std::min<long long>(left.count(), 200))) ==
        ce::EventWaiter::Event::interrupted)
      break;
  }
  closeListener(readNumber(cedevice::runFile("listener.pid")));
  throw Failure("the listener did not reach its message loop within 10 s; see " +
                cedevice::runFile("notlstnr.out") + " and " + cedevice::runFile("boot.log"));
}

int shutdown() {
  HWND window = cedevice::findListenerWindow();
  int bootPid = readNumber(cedevice::runFile("boot.pid"));
  bool booted = bootPid > 0 && ce::processAlive(bootPid);
  if (!window && !booted) throw Failure("the device is not running");
  int listenerPid = window ? cedevice::ownerOf(window) : readNumber(cedevice::runFile("listener.pid"));
  if (window && !PostMessageW(window, WM_CLOSE, 0, 0))
    throw Failure("the listener did not take the close message (error " +
                  std::to_string(GetLastError()) + ")");
  if (!window) ce::terminateProcess(listenerPid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(shutdownTimeoutMs);
  while (ce::processAlive(listenerPid) || (booted && ce::processAlive(bootPid))) {
    if (std::chrono::steady_clock::now() >= deadline)
      throw Failure("the device did not stop within 30 s");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (booted) std::printf("listener exited with code %d\n", readNumber(cedevice::runFile("listener.exit")));
  else std::printf("listener stopped\n");
  return 0;
}

void setup(CLI::App& app) {
  auto* init = cedevice::describe(
      app.add_subcommand("init", "Create the device image (folders, launcher, registry defaults)"),
      "Creates what is missing and keeps what is there: the folders \\My Documents\\Briefcase,\n"
      "\\My Documents\\Notes and \\My Documents\\My Pictures, the launcher\n"
      "\\Program Files\\Quillbex\\startsync.exe (a copy of the startsync program installed\n"
      "beside cedevice), and the settings under HKLM\\Software\\Quillbex\\SyncclientPIM:\n"
      "\"path\" (the launcher's folder), \"clientPushInterval\" = 1 (minutes from the latest\n"
      "change to the launcher's start) and \"logLevel\" = 2.");
  init->callback([] {
    cedevice::initDevice(true);
    std::printf("device ready in %s\n", ce::deviceHome().c_str());
  });

  auto* bootCommand = cedevice::describe(
      app.add_subcommand("boot", "Start the scheduler and the listener"),
      "Runs `init` first, then the scheduler and the listener (notlstnr, installed beside\n"
      "cedevice) in the foreground, printing the listener's new log lines and each program the\n"
      "scheduler starts. Ctrl-C or SIGTERM closes the listener through its own close sequence\n"
      "(WM_CLOSE); boot then stops the scheduler and exits with the listener's exit code. A\n"
      "second boot of a running device exits 1.\n"
      "\n"
      "With --detach it returns once the listener waits for messages, or fails after 10 s with\n"
      "the reason; the device's output then goes to run/boot.log in the device home.");
  auto detach = std::make_shared<bool>(false);
  auto quiet = std::make_shared<bool>(false);
  bootCommand->add_flag("--detach", *detach, "Run in the background; return once the listener waits for messages");
  bootCommand->add_flag("--quiet", *quiet, "Do not echo the listener's log")->group("");
  bootCommand->callback([detach, quiet] {
    cedevice::setExitCode(*detach ? bootDetached() : boot(!*quiet));
  });

  auto* shutdownCommand = cedevice::describe(
      app.add_subcommand("shutdown", "Close the listener and stop the device"),
      "Sends WM_CLOSE to the listener, waits up to 30 s for it and the scheduler to end and\n"
      "prints the listener's exit code. Exits 1 when the device is not running.");
  shutdownCommand->callback([] { cedevice::setExitCode(shutdown()); });
}

cedevice::CommandGroup group(10, setup);

}  // namespace
