// Starting due programs and reaping them.
//
// A program is started, never waited for: the scheduler holds it through its pidfd, which
// becomes readable when it ends, so the change watcher's poll wakes to reap it and no zombies
// pile up however long the scheduler sleeps. Only the programs the scheduler started are
// waited for; other children of the same process (the device tool's listener) are left to
// their owner.
//
// Started programs run in a process group of their own, and outlive the scheduler: Ctrl-C
// aimed at the scheduler in a terminal, or its end, must not kill a synchronisation that is
// under way.
#include "platform/linux/notify/programs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/device.h"
#include "platform/linux/kernel/platform_state.h"
#include "platform/linux/kernel/private_files.h"
#include "platform/linux/kernel/unique_fd.h"
#include "platform/notify.h"
#include "platform/linux/process.h"

namespace ce::notify {

namespace {

using ce::kernel::UniqueFd;

std::mutex programsMutex;
std::vector<ce::Process> programs;

void reportNotStarted(const Request& request, const std::string& reason) {
  std::fprintf(stderr, "scheduler: cannot start %s: %s; request dropped\n",
               ce::fileNameForMessage(request.app).c_str(), reason.c_str());
  std::fflush(stderr);
}

// Why the host file cannot be started, or "" when it looks startable.
std::string whyNotStartable(const std::string& hostPath) {
  struct stat info;
  if (stat(hostPath.c_str(), &info) != 0) return std::strerror(errno);
  if (!S_ISREG(info.st_mode)) return "not a file";
  if (access(hostPath.c_str(), X_OK) != 0) return "not executable";
  return "";
}

std::string fileNameOf(const std::string& hostPath) {
  return hostPath.substr(hostPath.find_last_of('/') + 1);
}

void resetPrograms() {
  std::lock_guard<std::mutex> lock(programsMutex);
  for (ce::Process& program : programs) program.ended();  // reaps the ones that are done
  programs.clear();
}

[[maybe_unused]] const bool resetProgramsHooked = (ce::addResetHook(&resetPrograms), true);

}  // namespace

std::optional<DWORD> startProgram(const Request& request) {
  std::string hostPath, home;
  try {
    home = ce::deviceHome();
    if (!ce::hostPathOf(request.app.c_str(), hostPath)) {
      reportNotStarted(request, "not a valid device path");
      return std::nullopt;
    }
  } catch (const std::exception& e) {
    reportNotStarted(request, e.what());
    return std::nullopt;
  }
  if (std::string reason = ce::programTrustProblem(hostPath); !reason.empty()) {
    reportNotStarted(request, reason);
    return std::nullopt;
  }
  if (std::string reason = whyNotStartable(hostPath); !reason.empty()) {
    reportNotStarted(request, reason);
    return std::nullopt;
  }

  std::string outPath = home + "/run/" + fileNameOf(hostPath) + ".out";
  UniqueFd output(ce::kernel::openPrivate(outPath, O_WRONLY | O_CREAT | O_APPEND));
  if (!output.valid()) {
    // The start matters more than its output.
    std::fprintf(stderr, "scheduler: cannot open %s: %s; output of %s discarded\n",
                 outPath.c_str(), std::strerror(errno),
                 ce::fileNameForMessage(request.app).c_str());
    output.reset(open("/dev/null", O_WRONLY | O_CLOEXEC));
  }

  ce::SpawnOptions options;
  options.argv = {hostPath};
  options.outputDescriptor = output.get();
  options.ownProcessGroup = true;
  options.environment = {{"CE_DEVICE_HOME", home}};
  std::string error;
  ce::Process program = ce::Process::start(options, error);
  if (!program.valid()) {
    reportNotStarted(request, error);
    return std::nullopt;
  }
  auto pid = static_cast<DWORD>(program.id());
  std::lock_guard<std::mutex> lock(programsMutex);
  programs.push_back(std::move(program));
  return pid;
}

size_t reapPrograms() {
  std::lock_guard<std::mutex> lock(programsMutex);
  std::erase_if(programs, [](ce::Process& program) { return program.ended(); });
  return programs.size();
}

std::vector<int> programEndDescriptors() {
  std::lock_guard<std::mutex> lock(programsMutex);
  std::vector<int> descriptors;
  for (const ce::Process& program : programs) descriptors.push_back(program.endDescriptor());
  return descriptors;
}

}  // namespace ce::notify
