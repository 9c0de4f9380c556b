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

// A folder below fs/ as the device finds it: in the case of the one that exists, whatever
// the case it is named in here, so that a user's "My documents" is used, not given a twin.
std::string asFound(const std::string& root, const std::string& relative) {
  std::string path = root + "/" + relative;
  std::error_code missing;
  if (!fs::exists(fs::symlink_status(path, missing))) ce::matchCase(path);
  return path;
}

// A home made by an older version, or under a looser umask, is made its owner's alone.
void tightenHome(const std::string& root) {
  std::vector<std::string> fsFolders;
  for (const char* folder : {"My Documents", "Program Files"}) fsFolders.push_back(folder);
  fsFolders.insert(fsFolders.end(), std::begin(folders), std::end(folders));
  for (std::string& folder : fsFolders) folder = asFound(root, folder).substr(root.size() + 1);
  auto tightened = ce::tightenDeviceHome(
      fsFolders, {asFound(root, launcherPath).substr(root.size() + 1), listenerLogFile,
                  launcherRecordFile});
  if (!tightened.empty())
    std::fprintf(stderr,
                 "cedevice: warning: made the device home its owner's alone: %zu files and "
                 "folders were open to other users\n",
                 tightened.size());
}

}  // namespace

void initDevice(bool verbose) {
  requireAccess();
  // SQLite opens no database whose full path is 512 bytes or longer: a longer home would
  // fail half-way through, with its folders made. The longest store name decides.
  constexpr size_t storePathLimit = 511;
  const std::string longestStore = "/system/registry.db-commits";
  const std::string home = requestedHome();
  if (home.size() + longestStore.size() > storePathLimit)
    throw Failure("the device home's path is too long (" + std::to_string(home.size()) +
                  " bytes; at most " + std::to_string(storePathLimit - longestStore.size()) +
                  "): " + home);
  std::string root = ce::fsRoot();
  for (const char* folder : folders) {
    std::error_code ignored;
    const std::string path = asFound(root, folder);
    bool existed = fs::exists(path, ignored);
    std::string error;
    if (!ce::makePrivateFolders(path, error))
      throw Failure("cannot create " + error);
    if (!existed && verbose) {
      std::string devicePath = folder;
      for (char& c : devicePath)
        if (c == '/') c = '\\';
      std::printf("created \\%s\n", devicePath.c_str());
    }
  }
  std::string launcher = asFound(root, launcherPath);
  if (!fs::exists(launcher)) {
    std::string program = programPath("startsync");
    std::error_code error;
    fs::copy_file(program, launcher, error);
    if (error) throw Failure("cannot install " + program + " as startsync.exe: " + error.message());
    fs::permissions(launcher, fs::perms::owner_all);
    if (verbose) std::printf("installed \\Program Files\\Quillbex\\startsync.exe\n");
  }
  tightenHome(root);
  for (const Default& setting : defaults) {
    std::wstring existing;
    if (readClientSetting(setting.name, existing)) continue;
    writeClientSetting(setting.name, setting.value);
    if (verbose)
      std::printf("set %s = %s\n", narrow(setting.name).c_str(), narrow(setting.value).c_str());
  }
}

}  // namespace cedevice
