// An ICU converter that closes itself. Platform-internal.
#pragma once

#include <memory>

#include "platform/linux/icu/lazy_icu.h"

namespace ce::kernel {

struct CloseIcuConverter {
  void operator()(UConverter* converter) const { icu::functions().close(converter); }
};
using IcuConverter = std::unique_ptr<UConverter, CloseIcuConverter>;

}  // namespace ce::kernel
