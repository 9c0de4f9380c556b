// `cedevice init`, `boot` and `shutdown`: the device as a whole.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_processes.h"
#include "apps/cedevice/device_image.h"
#include "apps/cedevice/log_reader.h"
#include "clientlib/mainclient.h"
#include "textcore/log.h"
#include "platform/linux/device.h"
#include "platform/notify.h"
#include "platform/pimstore.h"
#include "platform/linux/process.h"
#include "platform/linux/stores.h"
#include "platform/linux/user/window_table.h"

namespace device_command {
namespace {

using cedevice::Failure;

const wchar_t* const bootLockName = L"cedevice.boot";
const char* const readyLine = "CP: Init waiting PIM notification messages...";
constexpr int detachTimeoutMs = 10000;
// How often a listener that cannot log its start is asked whether it serves yet.
constexpr int serveCheckPeriodMs = 20;
constexpr int shutdownTimeoutMs = 30000;
// How many times one boot restarts a scheduler or a listener that died: a program that dies
// at every start must not be restarted for ever.
constexpr int maxRestarts = 3;

int readNumber(const std::string& path) {
  return std::atoi(cedevice::readText(path).c_str());
}

void writeNumber(const std::string& path, int value) {
  std::string error;
  if (!ce::writePrivateFile(path, std::to_string(value) + "\n", error)) throw Failure(error);
}

// The last line a program wrote to its output file, "" when none.
std::string lastLineOf(const std::string& path) {
  std::string text = cedevice::readText(path);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  size_t start = text.rfind('\n');
  return cedevice::oneLine(start == std::string::npos ? text : text.substr(start + 1), false);
}

// True while a boot of this device holds its lock.
bool bootRunning() {
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  bool running = lock && GetLastError() == ERROR_ALREADY_EXISTS;
  if (lock) CloseHandle(lock);
  return running;
}

// Fails when a boot of this device is running or a listener runs without one. Asks the
// records, never the boot lock: a look that took the lock for a moment would turn away a
// boot starting at that moment. The lock itself decides between two boots.
void ensureNotRunning() {
  if (ce::Process supervisor = cedevice::findRecorded(cedevice::bootRole); supervisor.valid())
    throw Failure("the device is already running (boot pid " + std::to_string(supervisor.id()) +
                  ")");
  if (HWND window = cedevice::findListenerWindow())
    throw Failure("a listener is already running on this device (pid " +
                  std::to_string(cedevice::ownerOf(window)) + ")");
}

// The lock the listener takes for each line of its log: a folder in its place, or a process
// that holds it, would drop every line, the start line among them.
void checkLogLock() {
  const std::string lockFile = cedevice::runFile("mutex.notlstnr.txt.lock");
  struct stat info;
  if (lstat(lockFile.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
    throw Failure(lockFile + " is not a regular file; the listener locks it to write its log: "
                             "remove it");
  // A writer holds it for one line at a time: only a lock held all along is somebody's hold.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    HANDLE lock = CreateMutexW(nullptr, TRUE, L"notlstnr.txt");
    DWORD error = GetLastError();
    if (lock) CloseHandle(lock);
    if (!lock)
      throw Failure(lockFile + ": cannot be locked (error " + std::to_string(error) +
                    "); the listener locks it to write its log");
    if (error != ERROR_ALREADY_EXISTS) return;
    if (std::chrono::steady_clock::now() >= deadline)
      throw Failure(lockFile + " is held by another process, so the listener could not write "
                               "its log: end that process");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Refuses a device whose stores cannot be read, and one where the log or the launcher's
// record is a link: the device writes only inside its home, and never over a damaged store.
void checkBeforeStart() {
  for (const char* store : {ce::registryStoreName, ce::pimStoreName, ce::notifyStoreName}) {
    std::string problem = ce::storeProblem(store);
    if (!problem.empty()) throw Failure("system/" + std::string(store) + ": " + problem);
  }
  for (const char* file : {"notlstnr.txt", "startsync.txt"}) {
    struct stat info;
    if (lstat((ce::fsRoot() + "/" + file).c_str(), &info) != 0) continue;
    if (S_ISLNK(info.st_mode))
      throw Failure("fs/" + std::string(file) +
                    " is a symbolic link; the device writes only inside its home: remove it");
    // A FIFO or a folder there would leave the listener's log unwritten and the boot waiting
    // for a start line that never comes.
    if (!S_ISREG(info.st_mode))
      throw Failure("fs/" + std::string(file) +
                    " is not a regular file; the device writes its log there: remove it");
  }
  checkLogLock();
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

// Takes the boot lock and prepares the device for a start; the lock, or Failure with why the
// device cannot start. A detached boot's output goes to run/boot.log from here on, emptied:
// only the boot that holds the lock may touch it.
HANDLE prepareBoot(int readyFd) {
  cedevice::initDevice(false);
  HANDLE lock = CreateMutexW(nullptr, TRUE, bootLockName);
  if (!lock) throw Failure("cannot take the device's boot lock (error " +
                           std::to_string(GetLastError()) + ")");
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    // The winner may not have recorded itself yet.
    ensureNotRunning();
    throw Failure("the device is already running");
  }
  try {
    std::string error;
    if (readyFd >= 0 && !ce::redirectOutput(cedevice::runFile("boot.log"), error))
      throw Failure(error);
    cedevice::endLeftovers();
    if (HWND window = cedevice::findListenerWindow())
      throw Failure("a listener is already running on this device (pid " +
                    std::to_string(cedevice::ownerOf(window)) + ")");
    checkBeforeStart();
    cedevice::removeWhatDeadProcessesLeft();
  } catch (...) {
    CloseHandle(lock);
    throw;
  }
  return lock;
}

// With the boot lock held (released here), runs the scheduler and the listener until the
// listener ends; its exit code, or 1 when the listener could not serve the device. `readyFd`
// (-1: none) hears "ready" once the listener takes messages with its subscriptions in place,
// or why it cannot, and is -1 once told.
//
// Both children end when this process does, however it ends, so a supervisor that is killed
// never leaves a scheduler to run beside the next boot's; the records in run/ let the next
// boot or shutdown end any that outlived it all the same.
int runDevice(HANDLE lock, bool echoLog, int& readyFd) {
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
  listenerOptions.freshOutput = true;  // what it says is about this start
  listenerOptions.ownProcessGroup = true;
  listenerOptions.endWithStarter = true;
  ce::Process listener;
  try {
    listener = startOrFail(listenerOptions);
  } catch (const Failure&) {
    cedevice::stopProcess(scheduler, 5000);  // no scheduler of a boot that failed outlives it
    throw;
  }
  cedevice::recordProcess(cedevice::listenerRole, listener.identity());

  bool ready = false;
  std::string cannotServe;
  std::string startLog;  // the listener's lines until it is ready
  // The start-up line is an info line: a device that logs less never writes it, and its
  // listener is ready once it serves. Until then only its end, or the detaching caller's own
  // deadline, says that it failed.
  const bool startLogged = getLOGLevel() >= LogInfo;
  bool schedulerRunning = true;
  bool closing = false;  // asked to stop: nothing that ends now is restarted
  int schedulerRestarts = 0, listenerRestarts = 0;
  for (;;) {
    bool asking = !ready && cannotServe.empty() && !startLogged;
    auto event = waiter.wait(asking ? serveCheckPeriodMs : -1,
                             {&listener, schedulerRunning ? &scheduler : nullptr});
    std::string lines = echoLog || !ready ? logReader.next() : std::string();
    if (echoLog) std::fputs(lines.c_str(), stdout);
    std::fflush(stdout);
    if (event == ce::EventWaiter::Event::interrupted) {
      closing = true;
      closeListener(listener);
    }
    // Each end is looked at once: one seen ending between two looks would be taken as final.
    bool schedulerEnded = schedulerRunning && scheduler.ended();
    bool listenerEnded = listener.ended();
    // Once the device serves, a scheduler that dies is started again: without it no due
    // start would happen until the next boot.
    if (schedulerEnded && ready && !closing && schedulerRestarts < maxRestarts && !listenerEnded) {
      ++schedulerRestarts;
      std::fprintf(stderr, "cedevice: the scheduler ended (exit code %d); restarting it (%d of %d)\n",
                   scheduler.exitCode(), schedulerRestarts, maxRestarts);
      std::fflush(stderr);
      try {
        scheduler = startOrFail(schedulerOptions);
        cedevice::recordProcess(cedevice::schedulerRole, scheduler.identity());
        schedulerEnded = false;
      } catch (const Failure& failure) {
        std::fprintf(stderr, "cedevice: %s\n", failure.what());
      }
    }
    if (schedulerEnded) {
      schedulerRunning = false;
      std::fprintf(stderr, "cedevice: the scheduler ended (exit code %d)\n", scheduler.exitCode());
      std::fflush(stderr);
      // A device without its scheduler never starts the launcher: not a device that booted.
      if (!ready && cannotServe.empty()) {
        cannotServe = "the scheduler ended while starting (exit code " +
                      std::to_string(scheduler.exitCode()) + ")";
        ce::ReadyChannel::send(readyFd, "failed " + cannotServe);
        readyFd = -1;
        closeListener(listener);
      }
    }
    // A listener that died (a clean close ends with 0) is started again the same way; what
    // the dead one left (its socket, windows and subscriptions) goes first.
    if (listenerEnded && ready && !closing && listener.exitCode() != 0 &&
        listenerRestarts < maxRestarts) {
      ++listenerRestarts;
      std::fprintf(stderr, "cedevice: the listener ended (exit code %d); restarting it (%d of %d)\n",
                   listener.exitCode(), listenerRestarts, maxRestarts);
      std::fflush(stderr);
      cedevice::removeWhatDeadProcessesLeft();
      listenerOptions.freshOutput = false;  // the dead one's last words stay
      try {
        listener = startOrFail(listenerOptions);
        cedevice::recordProcess(cedevice::listenerRole, listener.identity());
        continue;
      } catch (const Failure& failure) {
        std::fprintf(stderr, "cedevice: %s\n", failure.what());
      }
    }
    if (listenerEnded) break;
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
  if (!ready && cannotServe.empty()) {
    std::string why = lastLineOf(cedevice::runFile("notlstnr.out"));
    ce::ReadyChannel::send(readyFd, "failed the listener ended while starting (exit code " +
                                        std::to_string(exitCode) + ")" +
                                        (why.empty() ? "" : ": " + why));
  }
  return cannotServe.empty() ? exitCode : 1;
}

int boot(bool echoLog, int readyFd) {
  HANDLE lock = nullptr;
  try {
    lock = prepareBoot(readyFd);
    return runDevice(lock, echoLog, readyFd);
  } catch (const Failure& failure) {
    // A boot that held the lock and could not start leaves no record of itself.
    if (lock) {
      for (const char* role : {cedevice::schedulerRole, cedevice::listenerRole, cedevice::bootRole})
        cedevice::forgetProcess(role);
      CloseHandle(lock);
    }
    // A detached boot's starter says this, and only this.
    ce::ReadyChannel::send(readyFd, std::string("refused ") + failure.what());
    throw;
  }
}

// Boots in the background; returns once the listener takes messages.
int bootDetached() {
  cedevice::initDevice(false);
  ensureNotRunning();
  checkBeforeStart();
  ce::ReadyChannel channel;
  ce::SpawnOptions daemonOptions;
  daemonOptions.argv = {ce::executableDir() + "/cedevice", "boot", "--quiet", "--ready-fd",
                        std::to_string(channel.childEnd())};
  // Until it holds the boot lock it has nothing to say but through the channel.
  daemonOptions.discardOutput = true;
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
  if (line.rfind("refused ", 0) == 0) throw Failure(line.substr(8));
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
  // A running boot is asked to stop as Ctrl-C asks it: it closes its listener itself, and
  // restarts nothing that ends meanwhile.
  const bool throughSupervisor = booted && supervisor.valid();
  if (throughSupervisor && !supervisor.terminate())
    throw Failure("cannot ask the boot (pid " + std::to_string(supervisor.id()) + ") to stop");
  if (throughSupervisor && !windowOwner.valid()) window = nullptr;
  if (window && !PostMessageW(window, WM_CLOSE, 0, 0)) {
    DWORD error = GetLastError();
    // A listener that cannot be reached (its socket removed) still closes on SIGTERM, whose
    // handler runs the same close sequence: the device stops all the same.
    ce::Process& owner = windowOwner.valid() ? windowOwner : listener;
    if (error != ERROR_PIPE_NOT_CONNECTED || !owner.valid() || !owner.terminate())
      throw Failure("the listener did not take the close message (error " +
                    std::to_string(error) + ")");
  }
  if (!window && !throughSupervisor) listener.terminate();
  if (!booted) scheduler.terminate();
  if (!waitForAll({&listener, &windowOwner, &supervisor, &scheduler}, shutdownTimeoutMs))
    throw Failure("the device did not stop within 30 s");
  if (!booted) {
    for (const char* role : {cedevice::bootRole, cedevice::schedulerRole, cedevice::listenerRole})
      cedevice::forgetProcess(role);
    std::printf("listener stopped\n");
  } else {
    int code = readNumber(cedevice::runFile("listener.exit"));
    std::printf("listener exited with code %d\n", code);
    // One that was killed, or crashed while closing, may have lost what it was recording.
    if (code != 0) {
      std::fflush(stdout);
      std::fprintf(stderr, "cedevice: the listener did not exit cleanly (exit code %d)\n", code);
      return 1;
    }
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
      "second boot of a running device exits 1. A scheduler, or a listener, that dies while\n"
      "the device runs is started again, up to 3 times each, with a line saying so.\n"
      "\n"
      "A device whose store cannot be read is not booted: the store is named with the cause\n"
      "and left as it is. Nor is one where \\notlstnr.txt or \\startsync.txt is a symbolic\n"
      "link, since the device writes only inside its home. A home that others may read (made\n"
      "by an older version, or under a loose umask) is made its owner's alone first, with one\n"
      "line on standard error saying so.\n"
      "\n"
      "With --detach it returns once the listener waits for messages and the scheduler runs,\n"
      "or fails after 10 s with the reason; the device's output then goes to run/boot.log in\n"
      "the device home, which holds this boot's output only.");
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
      "prints the listener's exit code. Exits 1 when the device is not running, or when the\n"
      "listener did not exit cleanly (an exit code other than 0).");
  shutdownCommand->callback([] { cedevice::setExitCode(shutdown()); });
}

cedevice::CommandGroup group(10, setup);

}  // namespace
}  // namespace device_command
