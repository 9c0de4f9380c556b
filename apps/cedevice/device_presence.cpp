#include "apps/cedevice/device_presence.h"

#include <cstdlib>
#include <filesystem>

#include "apps/cedevice/failure.h"
#include "platform/linux/device.h"

namespace cedevice {

namespace fs = std::filesystem;

std::string requestedHome() {
  const char* env = std::getenv("CE_DEVICE_HOME");
  return homeNamed(env ? env : "");
}

std::string homeNamed(const std::string& given) {
  fs::path home = given.empty() ? "./device" : given;
  std::error_code error;
  fs::path absolute = fs::absolute(home, error);
  if (error) return home.string();
  fs::path resolved = fs::weakly_canonical(absolute, error);
  return (error ? absolute.lexically_normal() : resolved).string();
}

void requireAccess() {
  std::string problem = ce::homeAccessProblem(requestedHome());
  if (!problem.empty()) throw Failure("cannot use the device home: " + problem, 1);
  problem = ce::homeTrustProblem(requestedHome());
  if (!problem.empty()) throw Failure("refused the device home: " + problem, 1);
}

void requireDevice() {
  requireAccess();
  std::string home = requestedHome();
  std::error_code error;
  // What `init` makes first and every store lives in: a home without both is not a device.
  if (fs::is_directory(home + "/fs", error) && fs::is_directory(home + "/system", error)) return;
  throw Failure("no device in " + home + " (run `cedevice init`)", 1);
}

}  // namespace cedevice
