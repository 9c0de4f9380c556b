// The window layer uses the kernel layer's owned descriptor under its own namespace.
#pragma once

#include "platform/linux/kernel/unique_fd.h"

namespace ce::user {

using ce::kernel::UniqueFd;

}  // namespace ce::user
