// An ICU converter that closes itself. Platform-internal.
#pragma once

#include <unicode/ucnv.h>

#include <memory>

namespace ce::kernel {

struct CloseIcuConverter {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using IcuConverter = std::unique_ptr<UConverter, CloseIcuConverter>;

}  // namespace ce::kernel
