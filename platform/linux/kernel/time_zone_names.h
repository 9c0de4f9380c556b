// The device's names of a zone ("W. Europe Standard Time"), which the zone database lacks.
#pragma once

#include <string>

namespace ce::kernel {

// The standard-time name of the zone database's zone `id`, whose file is `zoneFile` (the
// host's zone has an empty id and /etc/localtime); empty when the zone has none.
std::u16string windowsZoneName(const std::string& id, const std::string& zoneFile);

}  // namespace ce::kernel
