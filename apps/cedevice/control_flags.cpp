#include "apps/cedevice/control_flags.h"

#include <cstdio>
#include <fstream>

#include "apps/cedevice/device_access.h"

namespace cedevice {

namespace {
const std::string allClear(dataSourceCount, '0');
}

std::string knownFlags(int pid) {
  std::ifstream in(runFile("control-flags"));
  int recordedPid = 0;
  std::string flags;
  if (!(in >> recordedPid >> flags) || recordedPid != pid || flags.size() != dataSourceCount)
    return allClear;  // a new listener starts with every source recording
  return flags;
}

void rememberCommand(int pid, unsigned flagNumber, bool suspend) {
  std::string flags = knownFlags(pid);
  if (flagNumber == allSourcesFlagNumber && !suspend) flags = allClear;
  else if (const DataSource* source = sourceByFlag(flagNumber))
    flags[static_cast<size_t>(source->flagPosition)] = suspend ? '1' : '0';
  std::string path = runFile("control-flags");
  std::ofstream out(path + ".new", std::ios::trunc);
  out << pid << ' ' << flags << '\n';
  out.close();
  std::rename((path + ".new").c_str(), path.c_str());
}

}  // namespace cedevice
