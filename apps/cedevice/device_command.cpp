// `cedevice init`, `boot` and `shutdown`: the device as a whole.
#include <chrono>
#include <cstdio>
#include <fstream>

#include "apps/cedevice/command.h"
#include "apps/cedevice/control_flags.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_processes.h"
#include "apps/cedevice/device_image.h"
#include "apps/cedevice/log_reader.h"
#include "clientlib/mainclient.h"
#include "textcore/log.h"
#include "platform/device.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/process.h"
#include "platform/user/window_table.h"

namespace {

using cedevice::Failure;

const wchar_t* const bootLockName = L"cedevice.boot";
const char* const readyLine = "CP: Init waiting PIM notification messages...";
constexpr int detachTimeoutMs = 10000;
// How often a listener that cannot log its start is asked whether it serves yet.
constexpr int serveCheckPeriodMs = 20;
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

// True while a boot of this device holds its lock.
bool bootRunning() {
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  bool running = lock && GetLastError() == ERROR_ALREADY_EXISTS;
  if (lock) CloseHandle(lock);
  return running;
}

// Fails when a boot of this device is running or a listener runs without one.
void ensureNotRunning() {
  if (bootRunning())
    throw Failure("the device is already running (boot pid " +
                  std::to_string(readNumber(cedevice::runFile("boot.pid"))) + ")");
  if (HWND window = cedevice::findListenerWindow())
    throw Failure("a listener is already running on this device (pid " +
                  std::to_string(cedevice::ownerOf(window)) + ")");
}

ce::Process startOrFail(ce::SpawnOptions options) {
  std::string error;
  options.environment.emplace_back("CE_DEVICE_HOME", ce::deviceHome());
  ce::Process process = ce::Process::start(options, error);
  if (!process.valid()) throw Failure("cannot start " + options.argv[0] + ": " + error);
  return process;
}

// Asks the listener to close through its own close sequence.
void closeListener(ce::Process& listener) {
  HWND window = cedevice::findListenerWindow();
  if (window && cedevice::ownerOf(window) == listener.id() && PostMessageW(window, WM_CLOSE, 0, 0))
    return;
  listener.terminate();  // its SIGTERM handler posts the same WM_CLOSE
}

// Runs the scheduler and the listener until the listener ends; its exit code, or 1 when the
// listener could not serve the device. `readyFd` (-1: none) hears "ready" once the listener
// takes messages with its subscriptions in place, or why it cannot.
//
// Both children end when this process does, however it ends, so a supervisor that is killed
// never leaves a scheduler to run beside the next boot's; the records in run/ let the next
// boot or shutdown end any that outlived it all the same.
int boot(bool echoLog, int readyFd) {
  cedevice::initDevice(false);
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  if (!lock) throw Failure("cannot take the device's boot lock (error " +
                           std::to_string(GetLastError()) + ")");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    ensureNotRunning();
    throw Failure("the device is already running");
  }
  cedevice::endLeftovers();
  if (HWND window = cedevice::findListenerWindow()) {
    CloseHandle(lock);
    throw Failure("a listener is already running on this device (pid " +
                  std::to_string(cedevice::ownerOf(window)) + ")");
  }
  std::string logPath = cedevice::listenerLogPath();
  ce::EventWaiter waiter(logPath);  // before any child: signals are ours to handle
  cedevice::LogReader logReader(logPath, cedevice::LogReader::Start::atEnd);
  std::remove(cedevice::runFile("listener.exit").c_str());
  if (auto self = ce::ProcessIdentity::of(ce::currentProcessId()))
    cedevice::recordProcess(cedevice::bootRole, *self);
  if (echoLog) std::printf("booting the device in %s (Ctrl-C shuts it down)\n", ce::deviceHome().c_str());
  std::fflush(stdout);

  ce::SpawnOptions schedulerOptions;
  schedulerOptions.argv = {ce::executableDir() + "/cedevice", "scheduler"};
  schedulerOptions.ownProcessGroup = true;
  schedulerOptions.endWithStarter = true;
  ce::Process scheduler = startOrFail(schedulerOptions);
  cedevice::recordProcess(cedevice::schedulerRole, scheduler.identity());
  ce::SpawnOptions listenerOptions;
  listenerOptions.argv = {cedevice::programPath("notlstnr")};
  listenerOptions.outputPath = cedevice::runFile("notlstnr.out");
  listenerOptions.ownProcessGroup = true;
  listenerOptions.endWithStarter = true;
  ce::Process listener = startOrFail(listenerOptions);
  cedevice::recordProcess(cedevice::listenerRole, listener.identity());

  bool ready = false;
  std::string cannotServe;
  std::string startLog;  // the listener's lines until it is ready
  // The start-up line is an info line: a device that logs less never writes it, and its
  // listener is ready once it serves. Until then only its end, or the detaching caller's own
  // deadline, says that it failed.
  const bool startLogged = getLOGLevel() >= LogInfo;
  bool schedulerRunning = true;
  for (;;) {
    bool asking = !ready && cannotServe.empty() && !startLogged;
    auto event = waiter.wait(asking ? serveCheckPeriodMs : -1,
                             {&listener, schedulerRunning ? &scheduler : nullptr});
    std::string lines = echoLog || !ready ? logReader.next() : std::string();
    if (echoLog) std::fputs(lines.c_str(), stdout);
    std::fflush(stdout);
    if (event == ce::EventWaiter::Event::interrupted) closeListener(listener);
    if (schedulerRunning && scheduler.ended()) {
      schedulerRunning = false;
      std::fprintf(stderr, "cedevice: the scheduler ended (exit code %d)\n", scheduler.exitCode());
    }
    if (listener.ended()) break;
    if (ready || !cannotServe.empty()) continue;
    if (startLogged) {
      startLog += lines;
      if (startLog.find(readyLine) == std::string::npos) continue;
      cannotServe = cedevice::whyListenerCannotServe(listener.id());
    } else if (!cedevice::whyListenerCannotServe(listener.id()).empty()) {
      continue;
    }
    if (cannotServe.empty()) {
      ready = true;
      // Quiet, the log was read only to see the listener start.
      if (!echoLog) waiter.stopFollowing();
      ce::ReadyChannel::send(readyFd, "ready " + std::to_string(listener.id()));
    } else {
      std::fprintf(stderr, "cedevice: %s\n", cannotServe.c_str());
      std::fflush(stderr);
      ce::ReadyChannel::send(readyFd, "failed " + cannotServe);
      closeListener(listener);
    }
    readyFd = -1;
  }
  int exitCode = listener.exitCode();
  if (echoLog) std::fputs(logReader.next().c_str(), stdout);
  if (schedulerRunning && !cedevice::stopProcess(scheduler, 5000))
    std::fprintf(stderr, "cedevice: the scheduler (pid %d) does not end\n", scheduler.id());
  writeNumber(cedevice::runFile("listener.exit"), exitCode);
  for (const char* role : {cedevice::schedulerRole, cedevice::listenerRole, cedevice::bootRole})
    cedevice::forgetProcess(role);
  if (echoLog) std::printf("listener exited with code %d\n", exitCode);
  std::fflush(stdout);
  CloseHandle(lock);
  if (!ready && cannotServe.empty())
    ce::ReadyChannel::send(readyFd, "failed the listener ended while starting (exit code " +
                                        std::to_string(exitCode) + ")");
  return cannotServe.empty() ? exitCode : 1;
}

// Boots in the background; returns once the listener takes messages.
int bootDetached() {
  cedevice::initDevice(false);
  ensureNotRunning();
  ce::ReadyChannel channel;
  ce::SpawnOptions daemonOptions;
  daemonOptions.argv = {ce::executableDir() + "/cedevice", "boot", "--quiet", "--ready-fd",
                        std::to_string(channel.childEnd())};
  daemonOptions.outputPath = cedevice::runFile("boot.log");
  daemonOptions.newSession = true;
  daemonOptions.keptDescriptors = {channel.childEnd()};
  ce::Process daemon = startOrFail(daemonOptions);
  channel.closeChildEnd();

  std::string line;
  auto outcome = channel.waitLine(detachTimeoutMs, line);
  if (outcome == ce::ReadyChannel::Outcome::line && line.rfind("ready ", 0) == 0) {
    std::printf("device booted in %s (listener pid %s)\n", ce::deviceHome().c_str(),
                line.substr(6).c_str());
    return 0;
  }
  if (outcome == ce::ReadyChannel::Outcome::timeout) daemon.terminate();
  // The failed boot takes its processes down before this reports it.
  if (!daemon.waitForEnd(shutdownTimeoutMs)) cedevice::stopProcess(daemon, 5000);
  std::string seeAlso = "; see " + cedevice::runFile("boot.log") + " and " +
                        cedevice::runFile("notlstnr.out");
  if (outcome == ce::ReadyChannel::Outcome::timeout)
    throw Failure("the listener did not reach its message loop within 10 s" + seeAlso);
  if (line.rfind("failed ", 0) == 0) throw Failure(line.substr(7) + seeAlso);
  std::string log = cedevice::readText(cedevice::runFile("boot.log"));
  throw Failure("the device stopped while booting (exit code " +
                std::to_string(daemon.exitCode()) + ")" + (log.empty() ? "" : ":\n" + log));
}

// Waits, all within one deadline, for each valid process to end; false at the deadline.
bool waitForAll(std::initializer_list<ce::Process*> processes, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (ce::Process* process : processes) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (process->valid() && !process->waitForEnd(static_cast<int>(std::max<long long>(left.count(), 0))))
      return false;
  }
  return true;
}

int shutdown() {
  bool booted = bootRunning();
  ce::Process supervisor = cedevice::findRecorded(cedevice::bootRole);
  ce::Process listener = cedevice::findRecorded(cedevice::listenerRole);
  ce::Process scheduler = cedevice::findRecorded(cedevice::schedulerRole);
  HWND window = cedevice::findListenerWindow();
  ce::Process windowOwner;
  if (window && cedevice::ownerOf(window) != listener.id())
    if (auto owner = ce::ProcessIdentity::of(cedevice::ownerOf(window)))
      windowOwner = ce::Process::find(*owner);
  if (!booted) {
    // No supervisor: whatever its records still name was left behind when it died.
    supervisor = ce::Process();
    if (!window && !listener.valid() && !scheduler.valid()) {
      for (const char* role : {cedevice::bootRole, cedevice::schedulerRole, cedevice::listenerRole})
        cedevice::forgetProcess(role);
      throw Failure("the device is not running");
    }
  }
  if (window && !PostMessageW(window, WM_CLOSE, 0, 0))
    throw Failure("the listener did not take the close message (error " +
                  std::to_string(GetLastError()) + ")");
  if (!window) listener.terminate();
  if (!booted) scheduler.terminate();
  if (!waitForAll({&listener, &windowOwner, &supervisor, &scheduler}, shutdownTimeoutMs))
    throw Failure("the device did not stop within 30 s");
  if (!booted) {
    for (const char* role : {cedevice::bootRole, cedevice::schedulerRole, cedevice::listenerRole})
      cedevice::forgetProcess(role);
    std::printf("listener stopped\n");
  } else {
    std::printf("listener exited with code %d\n", readNumber(cedevice::runFile("listener.exit")));
  }
  return 0;
}

void setup(CLI::App& app) {
  auto* init = cedevice::describe(
      app.add_subcommand("init", "Create the device image (folders, launcher, registry defaults)"),
      "Creates what is missing and keeps what is there: the folders \\My Documents\\Briefcase,\n"
      "\\My Documents\\Notes and \\My Documents\\My Pictures, the launcher\n"
      "\\Program Files\\Quillbex\\startsync.exe (a copy of the startsync program installed\n"
      "with cedevice), and the settings under HKLM\\Software\\Quillbex\\SyncclientPIM:\n"
      "\"path\" (the launcher's folder), \"clientPushInterval\" = 1 (minutes from the latest\n"
      "change to the launcher's start) and \"logLevel\" = 2.");
  init->callback([] {
    cedevice::initDevice(true);
    std::printf("device ready in %s\n", ce::deviceHome().c_str());
  });

  auto* bootCommand = cedevice::describe(
      app.add_subcommand("boot", "Start the scheduler and the listener"),
      "Runs `init` first, then the scheduler and the listener (notlstnr, installed with\n"
      "cedevice) in the foreground, printing the listener's new log lines and each program the\n"
      "scheduler starts. Ctrl-C or SIGTERM closes the listener through its own close sequence\n"
      "(WM_CLOSE); boot then stops the scheduler and exits with the listener's exit code. A\n"
      "second boot of a running device exits 1.\n"
      "\n"
      "With --detach it returns once the listener waits for messages, or fails after 10 s with\n"
      "the reason; the device's output then goes to run/boot.log in the device home.");
  auto detach = std::make_shared<bool>(false);
  auto quiet = std::make_shared<bool>(false);
  auto readyFd = std::make_shared<int>(-1);
  bootCommand->add_flag("--detach", *detach, "Run in the background; return once the listener takes messages");
  bootCommand->add_flag("--quiet", *quiet, "Do not echo the listener's log")->group("");
  bootCommand->add_option("--ready-fd", *readyFd, "Descriptor that hears when the listener is ready")->group("");
  bootCommand->callback([detach, quiet, readyFd] {
    cedevice::setExitCode(*detach ? bootDetached() : boot(!*quiet, *readyFd));
  });

  auto* shutdownCommand = cedevice::describe(
      app.add_subcommand("shutdown", "Close the listener and stop the device"),
      "Sends WM_CLOSE to the listener, waits up to 30 s for it and the scheduler to end and\n"
      "prints the listener's exit code. Exits 1 when the device is not running.");
  shutdownCommand->callback([] { cedevice::setExitCode(shutdown()); });
}

cedevice::CommandGroup group(10, setup);

}  // namespace
