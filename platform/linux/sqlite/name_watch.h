// Whether a file of a folder may have been written, replaced, removed or made under its name
// since the last ask: one non-blocking read of an inotify queue, where asking by path costs a
// stat per name and asking the file's content costs a read of it.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/kernel/unique_fd.h"

namespace ce::sqlite {

class NameWatch {
 public:
  // What counts as a change: a file written, or only a name given to another file or taken
  // away (which spares a watcher of a busy folder an event per write of the others).
  enum class Sees { writesAndNames, namesOnly };

  NameWatch() = default;
  // Watches `names` in `folder` from now on.
  NameWatch(const std::string& folder, std::vector<std::string> names,
            Sees sees = Sees::writesAndNames);

  // True when one of the names may have changed since the watch began or the last call: also
  // when the kernel's queue overflowed, the folder itself went, or no watch could be set up.
  bool changed();

 private:
  ce::kernel::UniqueFd fd_;
  std::vector<std::string> names_;
  bool lost_ = false;  // the folder went: every later ask must look by path
};

}  // namespace ce::sqlite
