#include "apps/cedevice/device_image.h"

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "apps/cedevice/device_access.h"
#include "apps/cedevice/device_presence.h"
#include "apps/cedevice/failure.h"
#include "platform/linux/device.h"

namespace cedevice {

namespace {

namespace fs = std::filesystem;

const char* const launcherPath = "Program Files/Quillbex/startsync.exe";
const char* const listenerLogFile = "notlstnr.txt";
const char* const launcherRecordFile = "startsync.txt";
const char* const folders[] = {"My Documents/Briefcase", "My Documents/Notes",
                               "My Documents/My Pictures", "Program Files/Quillbex"};

struct Default {
  const wchar_t* name;
  const wchar_t* value;
};
const Default defaults[] = {{L"path", L"\\Program Files\\Quillbex"},
                            {L"clientPushInterval", L"1"},
                            {L"logLevel", L"2"}};

// A home made by an older version, or under a looser umask, is made its owner's alone.
void tightenHome() {
  std::vector<std::string> fsFolders{"My Documents", "Program Files"};
  fsFolders.insert(fsFolders.end(), std::begin(folders), std::end(folders));
  auto tightened = ce::tightenDeviceHome(
      fsFolders, {launcherPath, listenerLogFile, launcherRecordFile});
  if (!tightened.empty())
    std::fprintf(stderr,
                 "cedevice: warning: made the device home its owner's alone: %zu files and "
                 "folders were open to other users\n",
                 tightened.size());
}

}  // namespace

void initDevice(bool verbose) {
  requireAccess();
  std::string root = ce::fsRoot();
  for (const char* folder : folders) {
    std::error_code ignored;
    bool existed = fs::exists(root + "/" + folder, ignored);
    std::string error;
    if (!ce::makePrivateFolders(root + "/" + folder, error))
      throw Failure("cannot create " + error);
    if (!existed && verbose) {
      std::string devicePath = folder;
      for (char& c : devicePath)
        if (c == '/') c = '\\';
      std::printf("created \\%s\n", devicePath.c_str());
    }
  }
  std::string launcher = root + "/" + launcherPath;
  if (!fs::exists(launcher)) {
    std::string program = programPath("startsync");
    std::error_code error;
    fs::copy_file(program, launcher, error);
    if (error) throw Failure("cannot install " + program + " as startsync.exe: " + error.message());
    fs::permissions(launcher, fs::perms::owner_all);
    if (verbose) std::printf("installed \\Program Files\\Quillbex\\startsync.exe\n");
  }
  tightenHome();
  for (const Default& setting : defaults) {
    std::wstring existing;
    if (readClientSetting(setting.name, existing)) continue;
    writeClientSetting(setting.name, setting.value);
    if (verbose)
      std::printf("set %s = %s\n", narrow(setting.name).c_str(), narrow(setting.value).c_str());
  }
}

}  // namespace cedevice
