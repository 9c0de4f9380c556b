#include "apps/cedevice/device_image.h"

#include <cstdio>
#include <filesystem>

#include "apps/cedevice/command.h"
#include "apps/cedevice/device_access.h"
#include "platform/device.h"

namespace cedevice {

namespace {

namespace fs = std::filesystem;

const char* const folders[] = {"My Documents/Briefcase", "My Documents/Notes",
                               "My Documents/My Pictures", "Program Files/Quillbex"};

struct Default {
  const wchar_t* name;
  const wchar_t* value;
};
const Default defaults[] = {{L"path", L"\\Program Files\\Quillbex"},
                            {L"clientPushInterval", L"1"},
                            {L"logLevel", L"2"}};

}  // namespace

void initDevice(bool verbose) {
  std::string root = ce::fsRoot();
  for (const char* folder : folders) {
    std::error_code error;
    if (fs::create_directories(root + "/" + folder, error) && verbose) {
      std::string devicePath = folder;
      for (char& c : devicePath)
        if (c == '/') c = '\\';
      std::printf("created \\%s\n", devicePath.c_str());
    }
    if (error) throw Failure("cannot create " + root + "/" + folder + ": " + error.message());
  }
  std::string launcher = root + "/Program Files/Quillbex/startsync.exe";
  if (!fs::exists(launcher)) {
    std::string program = programPath("startsync");
    std::error_code error;
    fs::copy_file(program, launcher, error);
    if (error) throw Failure("cannot install " + program + " as startsync.exe: " + error.message());
    fs::permissions(launcher, fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec);
    if (verbose) std::printf("installed \\Program Files\\Quillbex\\startsync.exe\n");
  }
  for (const Default& setting : defaults) {
    std::wstring existing;
    if (readClientSetting(setting.name, existing)) continue;
    writeClientSetting(setting.name, setting.value);
    if (verbose)
      std::printf("set %s = %s\n", narrow(setting.name).c_str(), narrow(setting.value).c_str());
  }
}

}  // namespace cedevice
